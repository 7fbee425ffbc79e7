// LL: intrusive singly linked list of caller-owned elements.
//
// An element embeds an LL_Item as its first member, so the element's address is its link's
// address and every operation takes elements by that address:
//
//   struct Job {
//     LL_Item link;  // first
//     int id;
//   };
//   LL_Item jobs;    // the head
//   LL_Init(&jobs);
//   LL_AddLast(&jobs, &job.link);
//
// The head is an LL_Item too: its next is the first element, or nullptr when the list is empty.
// Having the shape of a link, the head can stand wherever an element to insert after is
// expected. There is no tail pointer and no count; nothing is allocated or freed. An element is
// in at most one list at a time and is never added while it is still linked. Removing an
// element leaves its own next as it was.
#pragma once

struct LL_Item {
  LL_Item *next;  // next element, or nullptr at the end of the list
};

// Makes the list empty.
void LL_Init(LL_Item *list);
// Inserts item at the front (the same as LL_AddAfter(list, item)).
void LL_AddFirst(LL_Item *list, LL_Item *item);
// Inserts item directly after position, an element of the list or the head itself.
void LL_AddAfter(LL_Item *position, LL_Item *item);
// Appends item, clearing its next first so that a stale link is never carried in.
void LL_AddLast(LL_Item *list, LL_Item *item);
// Inserts item directly before `before`. Nothing is inserted when `before` is not in the list;
// a null `before` appends (on an empty list item becomes the only element).
void LL_AddBefore(LL_Item *list, LL_Item *before, LL_Item *item);
// Stores the first element, or nullptr, in *out.
void LL_GetFirst(LL_Item *list, LL_Item **out);
// Stores the element after item (the first element when item is the head) in *out and returns
// 1. An empty list stores nullptr and returns 1; an item not in a non-empty list stores nullptr
// and returns 0.
int LL_GetNext(LL_Item *list, LL_Item *item, LL_Item **out);
// Unlinks the first element and returns 0; returns 1 on an empty list, which stays as it was.
int LL_DeleteFirst(LL_Item *list);
// Unlinks item and returns 1 when it is in the list; returns 0 and changes nothing otherwise.
int LL_DeleteItem(LL_Item *list, LL_Item *item);
// 1 when the list has no element, else 0.
int LL_IsEmpty(const LL_Item *list);
// 1 when item is the last element of its list (its next is nullptr), else 0.
int LL_IsLastItem(const LL_Item *item);
// Number of elements in the list.
unsigned int LL_Count(const LL_Item *list);

// LL: intrusive singly linked list of caller-owned elements. Every operation only relinks.
#include "ll.h"

void LL_Init(LL_Item *list) { list->next = nullptr; }

void LL_AddFirst(LL_Item *list, LL_Item *item) { LL_AddAfter(list, item); }

void LL_AddAfter(LL_Item *position, LL_Item *item) {
  item->next = position->next;
  position->next = item;
}

void LL_AddLast(LL_Item *list, LL_Item *item) {
  item->next = nullptr;
  LL_Item *last = list;
  while (last->next != nullptr) last = last->next;
  last->next = item;
}

void LL_AddBefore(LL_Item *list, LL_Item *before, LL_Item *item) {
  // On an empty list only an absent (null) `before` is found, at the front: the item becomes
  // the only element. Any other `before` cannot be in an empty list, so nothing is inserted.
  if (list->next == nullptr) {
    if (before == nullptr) LL_AddFirst(list, item);
    return;
  }
  if (list->next == before) {
    LL_AddFirst(list, item);
    return;
  }
  for (LL_Item *pred = list->next; pred != nullptr; pred = pred->next) {
    if (pred->next == before) {
      LL_AddAfter(pred, item);
      return;
    }
  }
}

void LL_GetFirst(LL_Item *list, LL_Item **out) { *out = list->next; }

int LL_GetNext(LL_Item *list, LL_Item *item, LL_Item **out) {
  *out = nullptr;
  if (list->next == nullptr) return 1;
  // The head is compared first, so passing the head yields the first element.
  for (LL_Item *cur = list; cur != nullptr; cur = cur->next) {
    if (cur == item) {
      *out = cur->next;
      return 1;
    }
  }
  return 0;
}

int LL_DeleteFirst(LL_Item *list) {
  LL_Item *first = list->next;
  if (first == nullptr) return 1;
  list->next = first->next;
  return 0;
}

int LL_DeleteItem(LL_Item *list, LL_Item *item) {
  LL_Item *first = list->next;
  if (first == nullptr || item == nullptr) return 0;
  if (first == item) {
    list->next = item->next;
    return 1;
  }
  for (LL_Item *pred = first; pred->next != nullptr; pred = pred->next) {
    if (pred->next == item) {
      pred->next = item->next;
      return 1;
    }
  }
  return 0;
}

int LL_IsEmpty(const LL_Item *list) { return list->next == nullptr ? 1 : 0; }

int LL_IsLastItem(const LL_Item *item) { return item->next == nullptr ? 1 : 0; }

unsigned int LL_Count(const LL_Item *list) {
  unsigned int n = 0;
  for (const LL_Item *cur = list->next; cur != nullptr; cur = cur->next) ++n;
  return n;
}

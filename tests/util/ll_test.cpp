// Operation sequences on the intrusive list, each step checked for its result and the list's
// contents afterwards.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "ll.h"

namespace {

// A caller's element: the link comes first, so the element and its link share one address.
struct Elem {
  LL_Item link;
  char tag;
};

enum class Op { Init, AddFirst, AddAfter, AddLast, AddBefore, GetFirst, GetNext, DeleteFirst,
                DeleteItem, IsEmpty, IsLast, Count, SetNext, NextOf };

// Operands: 'A'..'E' elements, 'H' the head, '-' none. rc is the operation's result (-1 where
// it has none); out the element it stored or read ('-' for none, ' ' where unused).
struct Step {
  Op op;
  char a;
  char b;
  char c;
  int rc;
  char out;
  const char *after;  // tags of the list from the head after the step
};

struct Case {
  const char *name;
  std::vector<Step> steps;
};

// Names the case in test output instead of a byte dump.
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

constexpr char U = ' ';  // unused operand or output

class ListRun {
 public:
  ListRun() {
    // Stale links everywhere, as caller-owned storage may hold: operations must not trust them.
    for (int i = 0; i < 5; ++i) {
      elems_[i].tag = static_cast<char>('A' + i);
      elems_[i].link.next = &elems_[(i + 1) % 5].link;
    }
    head_.next = &elems_[2].link;
  }

  LL_Item *At(char t) {
    if (t == 'H') return &head_;
    if (t == '-' || t == U) return nullptr;
    return &elems_[t - 'A'].link;
  }

  static char Tag(const LL_Item *item) {
    return item == nullptr ? '-' : reinterpret_cast<const Elem *>(item)->tag;
  }

  std::string Contents() const {
    std::string s;
    for (const LL_Item *p = head_.next; p != nullptr && s.size() < 8; p = p->next) s += Tag(p);
    return s;
  }

  // Runs one step; returns its result and stores what it produced in *out.
  int Run(const Step &st, char *out) {
    LL_Item *got = nullptr;
    int rc = -1;
    *out = U;
    switch (st.op) {
      case Op::Init: LL_Init(&head_); break;
      case Op::AddFirst: LL_AddFirst(&head_, At(st.a)); break;
      case Op::AddAfter: LL_AddAfter(At(st.a), At(st.b)); break;
      case Op::AddLast: LL_AddLast(&head_, At(st.a)); break;
      case Op::AddBefore: LL_AddBefore(&head_, At(st.a), At(st.b)); break;
      case Op::GetFirst: LL_GetFirst(&head_, &got); *out = Tag(got); break;
      case Op::GetNext:
        got = &elems_[4].link;  // must be overwritten in every case
        rc = LL_GetNext(&head_, At(st.a), &got);
        *out = Tag(got);
        break;
      case Op::DeleteFirst: rc = LL_DeleteFirst(&head_); break;
      case Op::DeleteItem: rc = LL_DeleteItem(&head_, At(st.a)); break;
      case Op::IsEmpty: rc = LL_IsEmpty(&head_); break;
      case Op::IsLast: rc = LL_IsLastItem(At(st.a)); break;
      case Op::Count: rc = static_cast<int>(LL_Count(&head_)); break;
      case Op::SetNext: At(st.a)->next = At(st.b); break;
      case Op::NextOf: *out = Tag(At(st.a)->next); break;
    }
    return rc;
  }

 private:
  LL_Item head_{};
  Elem elems_[5]{};
};

const std::vector<Case> kCases = {
    {"CountGrowsWithAdditions",
     {{Op::Init, U, U, U, -1, U, ""},
      {Op::Count, U, U, U, 0, U, ""},
      {Op::IsEmpty, U, U, U, 1, U, ""},
      {Op::AddLast, 'A', U, U, -1, U, "A"},
      {Op::Count, U, U, U, 1, U, "A"},
      {Op::IsEmpty, U, U, U, 0, U, "A"},
      {Op::AddLast, 'B', U, U, -1, U, "AB"},
      {Op::AddFirst, 'C', U, U, -1, U, "CAB"},
      {Op::Count, U, U, U, 3, U, "CAB"},
      {Op::GetFirst, U, U, U, -1, 'C', "CAB"}}},
    {"AddAfterHeadOrElement",
     {{Op::Init, U, U, U, -1, U, ""},
      {Op::AddAfter, 'H', 'A', U, -1, U, "A"},
      {Op::AddAfter, 'A', 'C', U, -1, U, "AC"},
      {Op::AddAfter, 'A', 'B', U, -1, U, "ABC"},
      {Op::AddAfter, 'C', 'D', U, -1, U, "ABCD"},
      {Op::AddAfter, 'H', 'E', U, -1, U, "EABCD"},
      {Op::IsLast, 'D', U, U, 1, U, "EABCD"},
      {Op::IsLast, 'C', U, U, 0, U, "EABCD"}}},
    {"GetNextWalksFromTheHead",
     {{Op::Init, U, U, U, -1, U, ""},
      {Op::GetFirst, U, U, U, -1, '-', ""},
      {Op::GetNext, 'A', U, U, 1, '-', ""},  // empty list: none, yet 1
      {Op::GetNext, 'H', U, U, 1, '-', ""},
      {Op::AddLast, 'A', U, U, -1, U, "A"},
      {Op::AddLast, 'B', U, U, -1, U, "AB"},
      {Op::AddLast, 'C', U, U, -1, U, "ABC"},
      {Op::GetNext, 'H', U, U, 1, 'A', "ABC"},
      {Op::GetNext, 'A', U, U, 1, 'B', "ABC"},
      {Op::GetNext, 'B', U, U, 1, 'C', "ABC"},
      {Op::GetNext, 'C', U, U, 1, '-', "ABC"},  // last element
      {Op::GetNext, 'D', U, U, 0, '-', "ABC"},  // not in the list
      {Op::GetNext, '-', U, U, 0, '-', "ABC"}}},
    {"DeleteFirstReportsEmptyAsOne",
     {{Op::Init, U, U, U, -1, U, ""},
      {Op::DeleteFirst, U, U, U, 1, U, ""},
      {Op::AddLast, 'A', U, U, -1, U, "A"},
      {Op::DeleteFirst, U, U, U, 0, U, ""},
      {Op::IsEmpty, U, U, U, 1, U, ""},
      {Op::AddLast, 'A', U, U, -1, U, "A"},
      {Op::AddLast, 'B', U, U, -1, U, "AB"},
      {Op::DeleteFirst, U, U, U, 0, U, "B"},
      {Op::NextOf, 'A', U, U, -1, 'B', "B"}}},  // the removed element keeps its link
    {"DeleteItemAnywhere",
     {{Op::Init, U, U, U, -1, U, ""},
      {Op::DeleteItem, 'A', U, U, 0, U, ""},
      {Op::DeleteItem, '-', U, U, 0, U, ""},
      {Op::AddLast, 'A', U, U, -1, U, "A"},
      {Op::AddLast, 'B', U, U, -1, U, "AB"},
      {Op::AddLast, 'C', U, U, -1, U, "ABC"},
      {Op::AddLast, 'D', U, U, -1, U, "ABCD"},
      {Op::DeleteItem, 'E', U, U, 0, U, "ABCD"},  // never linked
      {Op::DeleteItem, '-', U, U, 0, U, "ABCD"},
      {Op::DeleteItem, 'B', U, U, 1, U, "ACD"},
      {Op::NextOf, 'B', U, U, -1, 'C', "ACD"},
      {Op::DeleteItem, 'B', U, U, 0, U, "ACD"},  // already gone
      {Op::DeleteItem, 'D', U, U, 1, U, "AC"},
      {Op::IsLast, 'C', U, U, 1, U, "AC"},
      {Op::DeleteItem, 'A', U, U, 1, U, "C"},
      {Op::DeleteItem, 'C', U, U, 1, U, ""},
      {Op::IsEmpty, U, U, U, 1, U, ""}}},
    {"AddBefore",
     {{Op::Init, U, U, U, -1, U, ""},
      {Op::AddBefore, 'E', 'B', U, -1, U, ""},  // empty list: a `before` not in it inserts nothing
      {Op::AddBefore, '-', 'B', U, -1, U, "B"},  // empty list: a null `before` is the front
      {Op::AddBefore, 'B', 'A', U, -1, U, "AB"},
      {Op::AddBefore, 'B', 'C', U, -1, U, "ACB"},
      {Op::AddBefore, 'E', 'D', U, -1, U, "ACB"},  // absent from a non-empty list
      {Op::AddBefore, '-', 'D', U, -1, U, "ACBD"},  // none is after the last element
      {Op::AddBefore, 'D', 'E', U, -1, U, "ACBED"},
      {Op::Count, U, U, U, 5, U, "ACBED"}}},
    {"StaleLinksOfAddedElements",
     {{Op::Init, U, U, U, -1, U, ""},
      {Op::SetNext, 'A', 'D', U, -1, U, ""},
      {Op::AddLast, 'A', U, U, -1, U, "A"},
      {Op::IsLast, 'A', U, U, 1, U, "A"},
      {Op::SetNext, 'B', 'D', U, -1, U, "A"},
      {Op::AddLast, 'B', U, U, -1, U, "AB"},
      {Op::Count, U, U, U, 2, U, "AB"},
      {Op::SetNext, 'C', 'E', U, -1, U, "AB"},
      {Op::AddFirst, 'C', U, U, -1, U, "CAB"},
      {Op::SetNext, 'D', 'E', U, -1, U, "CAB"},
      {Op::AddAfter, 'B', 'D', U, -1, U, "CABD"},
      {Op::IsLast, 'D', U, U, 1, U, "CABD"}}},
    {"InitForgetsElements",
     {{Op::Init, U, U, U, -1, U, ""},
      {Op::AddLast, 'A', U, U, -1, U, "A"},
      {Op::AddLast, 'B', U, U, -1, U, "AB"},
      {Op::Init, U, U, U, -1, U, ""},
      {Op::Count, U, U, U, 0, U, ""},
      {Op::GetNext, 'A', U, U, 1, '-', ""}}},
};

class LLSequence : public ::testing::TestWithParam<Case> {};

TEST_P(LLSequence, EachStepGivesItsResultAndContents) {
  ListRun run;
  const Case &c = GetParam();
  for (std::size_t i = 0; i < c.steps.size(); ++i) {
    const Step &st = c.steps[i];
    char out = U;
    const int rc = run.Run(st, &out);
    SCOPED_TRACE("step " + std::to_string(i));
    EXPECT_EQ(rc, st.rc);
    if (st.out != U) {
      EXPECT_EQ(out, st.out);
    }
    EXPECT_EQ(run.Contents(), st.after);
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, LLSequence, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &p) { return p.param.name; });

}  // namespace

// Operation sequences on the intrusive list, steps checked for their result and the list's
// contents afterwards.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ll.h"

namespace {

// A head and elements 'A'..'E' whose links start stale, as caller-owned storage may hold:
// operations must not trust them.
struct ListRun {
  LL_Item head{}, elems[5]{};
  ListRun() {
    for (int i = 0; i < 5; ++i) elems[i].next = &elems[(i + 1) % 5];
    head.next = &elems[2];
  }
  LL_Item *At(char t) { return t == 'H' ? &head : t == '-' ? nullptr : &elems[t - 'A']; }  // 'H' head, '-' none
  std::string Tag(const LL_Item *item) const { return {item == nullptr ? '-' : static_cast<char>('A' + (item - elems))}; }
  // Runs one step; returns its result and/or the element it gave, then "/" and the contents.
  std::string Run(const std::string &op) {
    LL_Item *x = op.size() > 1 ? At(op[1]) : nullptr, *y = op.size() > 2 ? At(op[2]) : nullptr;
    LL_Item *got = &elems[4];  // must be overwritten
    std::string out;
    switch (op[0]) {
      case 'I': LL_Init(&head); break;
      case 'F': LL_AddFirst(&head, x); break;
      case 'L': LL_AddLast(&head, x); break;
      case 'a': LL_AddAfter(x, y); break;
      case 'b': LL_AddBefore(&head, x, y); break;
      case 's': x->next = y; break;
      case 'g': LL_GetFirst(&head, &got); out = Tag(got); break;
      case 'n': out = std::to_string(LL_GetNext(&head, x, &got)); out += Tag(got); break;
      case 'd': out = std::to_string(LL_DeleteFirst(&head)); break;
      case 'x': out = std::to_string(LL_DeleteItem(&head, x)); break;
      case 'e': out = std::to_string(LL_IsEmpty(&head)); break;
      case 'z': out = std::to_string(LL_IsLastItem(x)); break;
      case '#': out = std::to_string(LL_Count(&head)); break;
      case '>': out = Tag(x->next); break;
    }
    out += "/";
    for (const LL_Item *p = head.next; p != nullptr && out.size() < 12; p = p->next) out += Tag(p);
    return out;
  }
};

// Steps "op=result/contents": I init, F/L add first/last X, aXY add Y after X, bXY add Y before
// X, sXY set X's link to Y, g first, nX next after X, d delete first, xX delete X, e is empty,
// zX is X last, # count, >X X's link.
const char *const kCases[] = {
    "I=/ #=0/ e=1/ LA=/A #=1/A e=0/A LB=/AB FC=/CAB #=3/CAB g=C/CAB",
    "I=/ aHA=/A aAC=/AC aAB=/ABC aCD=/ABCD aHE=/EABCD zD=1/EABCD zC=0/EABCD",
    "I=/ g=-/ nA=1-/ nH=1-/ LA=/A LB=/AB LC=/ABC nH=1A/ABC nA=1B/ABC nB=1C/ABC nC=1-/ABC nD=0-/ABC n-=0-/ABC",
    "I=/ d=1/ LA=/A d=0/ e=1/ LA=/A LB=/AB d=0/B >A=B/B",  // the removed element keeps its link
    "I=/ xA=0/ x-=0/ LA=/A LB=/AB LC=/ABC LD=/ABCD xE=0/ABCD x-=0/ABCD xB=1/ACD >B=C/ACD xB=0/ACD xD=1/AC zC=1/AC xA=1/C xC=1/",
    // A `before` not in the list inserts nothing; none means the end (the front of an empty list).
    "I=/ bEB=/ b-B=/B bBA=/AB bBC=/ACB bED=/ACB b-D=/ACBD bDE=/ACBED #=5/ACBED",
    "I=/ sAD=/ LA=/A zA=1/A sBD=/A LB=/AB #=2/AB sCE=/AB FC=/CAB sDE=/CAB aBD=/CABD zD=1/CABD",  // stale links
    "I=/ LA=/A LB=/AB I=/ #=0/ nA=1-/",
};

TEST(LLSequence, EachStepGivesItsResultAndContents) {
  for (const char *c : kCases) {
    ListRun run;
    std::istringstream in(c);
    for (std::string step; in >> step;) EXPECT_EQ(run.Run(step.substr(0, step.find('='))), step.substr(step.find('=') + 1)) << c;
  }
}

}  // namespace

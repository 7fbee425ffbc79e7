// Operation sequences on the intrusive list, steps checked for their result and the list's
// contents afterwards.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ll.h"

namespace {

// Steps "op=result/contents" (the result and/or the element an operation gave, then the list):
// I init, F/L add first/last X, aXY add Y after X, bXY add Y before X, g first, nX next after X,
// d delete first, xX delete X, e is empty, zX is X last, # count, >X X's link; 'H' is the head
// and '-' no element. A `before` not in the list inserts nothing; none means the end (the front
// of an empty list). A removed element keeps its link; an added one never carries a stale link in.
TEST(LLSequence, EachStepGivesItsResultAndContents) {
  for (const char *c : {"I=/ #=0/ e=1/ LA=/A #=1/A e=0/A LB=/AB FC=/CAB #=3/CAB g=C/CAB I=/ #=0/ nA=1-/",
                        "I=/ aHA=/A aAC=/AC aAB=/ABC aCD=/ABCD aHE=/EABCD zD=1/EABCD zC=0/EABCD",
                        "I=/ g=-/ nA=1-/ nH=1-/ LA=/A LB=/AB LC=/ABC nH=1A/ABC nA=1B/ABC nB=1C/ABC nC=1-/ABC nD=0-/ABC n-=0-/ABC",
                        "I=/ d=1/ LA=/A d=0/ e=1/ LA=/A LB=/AB d=0/B >A=B/B I=/ LA=/A LC=/AC zC=1/AC xA=1/C xC=1/",
                        "I=/ xA=0/ x-=0/ LA=/A LB=/AB LC=/ABC LD=/ABCD xE=0/ABCD x-=0/ABCD xB=1/ACD >B=C/ACD xB=0/ACD xD=1/AC",
                        "I=/ bEB=/ b-B=/B bBA=/AB bBC=/ACB bED=/ACB b-D=/ACBD bDE=/ACBED #=5/ACBED",
                        "I=/ LA=/A zA=1/A LB=/AB #=2/AB FC=/CAB aBD=/CABD zD=1/CABD"}) {
    // A head and elements 'A'..'E' whose links start stale, as caller-owned storage may hold:
    // operations must not trust them.
    LL_Item head{}, elems[5]{};
    for (int i = 0; i < 5; ++i) elems[i].next = &elems[(i + 1) % 5];
    head.next = &elems[2];
    const auto at = [&](char t) { return t == 'H' ? &head : t == '-' ? nullptr : &elems[t - 'A']; };
    const auto tag = [&](const LL_Item *p) { return std::string(1, p == nullptr ? '-' : static_cast<char>('A' + (p - elems))); };
    std::istringstream in(c);
    for (std::string step; in >> step;) {
      const std::size_t eq = step.find('=');
      LL_Item *x = eq > 1 ? at(step[1]) : nullptr, *y = eq > 2 ? at(step[2]) : nullptr, *got = &elems[4];  // got: overwritten
      std::string out;
      switch (step[0]) {
        case 'I': LL_Init(&head); break;
        case 'F': LL_AddFirst(&head, x); break;
        case 'L': LL_AddLast(&head, x); break;
        case 'a': LL_AddAfter(x, y); break;
        case 'b': LL_AddBefore(&head, x, y); break;
        case 'g': LL_GetFirst(&head, &got); out = tag(got); break;
        case 'n': out = std::to_string(LL_GetNext(&head, x, &got)); out += tag(got); break;
        case 'd': out = std::to_string(LL_DeleteFirst(&head)); break;
        case 'x': out = std::to_string(LL_DeleteItem(&head, x)); break;
        case 'e': out = std::to_string(LL_IsEmpty(&head)); break;
        case 'z': out = std::to_string(LL_IsLastItem(x)); break;
        case '#': out = std::to_string(LL_Count(&head)); break;
        case '>': out = tag(x->next); break;
      }
      out += "/";
      for (const LL_Item *p = head.next; p != nullptr && out.size() < 12; p = p->next) out += tag(p);
      EXPECT_EQ(out, step.substr(eq + 1)) << c << ": " << step;
    }
  }
}

}  // namespace

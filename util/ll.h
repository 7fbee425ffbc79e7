// LL: intrusive singly linked list of caller-owned elements.
#pragma once

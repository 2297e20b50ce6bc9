#pragma once
#include <cstdint>

// Singly linked list of untyped element pointers; the list does not own the
// elements. A zero-filled List is empty.
struct ListNode {
  void* element;
  ListNode* next;
};

struct List {
  ListNode* head;
  uint32_t count;
};

void List_PushFront(List* list, void* element);
void List_PushBack(List* list, void* element);
// Removes every node holding element; 1 when at least one went, else 0.
int32_t List_Remove(List* list, void* element);
void List_Begin(List* list, ListNode** cursor);
// 0 at the end (out untouched); else *out = element, cursor moves on, 1.
int32_t List_Next(ListNode** cursor, void** out);
void List_Free(List* list);

#include "toolkit/pointer_list.h"

#include <cstdlib>

void List_PushFront(List* list, void* element) {
  ListNode* node = static_cast<ListNode*>(malloc(sizeof(ListNode)));
  node->element = element;
  node->next = list->head;
  list->head = node;
  list->count += 1;
}

void List_PushBack(List* list, void* element) {
  ListNode* node = static_cast<ListNode*>(malloc(sizeof(ListNode)));
  node->element = element;
  node->next = nullptr;
  ListNode** link = &list->head;
  while (*link) link = &(*link)->next;
  *link = node;
  list->count += 1;
}

int32_t List_Remove(List* list, void* element) {
  int32_t removed = 0;
  ListNode** link = &list->head;
  while (*link) {
    ListNode* node = *link;
    if (node->element == element) {
      *link = node->next;
      free(node);
      list->count -= 1;
      removed = 1;
    } else {
      link = &node->next;
    }
  }
  return removed;
}

void List_Begin(List* list, ListNode** cursor) { *cursor = list->head; }

int32_t List_Next(ListNode** cursor, void** out) {
  if (!*cursor) return 0;
  *out = (*cursor)->element;
  *cursor = (*cursor)->next;
  return 1;
}

void List_Free(List* list) {
  ListNode* node = list->head;
  while (node) {
    ListNode* next = node->next;
    free(node);
    node = next;
  }
  list->head = nullptr;
  list->count = 0;
}

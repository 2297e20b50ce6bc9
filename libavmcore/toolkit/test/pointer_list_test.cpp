#include "toolkit/pointer_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<void*> Items(List* list) {
  std::vector<void*> out;
  ListNode* cursor;
  List_Begin(list, &cursor);
  void* e;
  while (List_Next(&cursor, &e)) out.push_back(e);
  return out;
}

TEST(PointerList, FrontAndBackInsertionOrder) {
  int a, b, c;
  List list{};
  List_PushFront(&list, &a);
  List_PushFront(&list, &b);
  EXPECT_EQ(Items(&list), (std::vector<void*>{&b, &a}));
  List_PushBack(&list, &c);
  EXPECT_EQ(Items(&list), (std::vector<void*>{&b, &a, &c}));
  EXPECT_EQ(list.count, 3u);
  List_Free(&list);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.count, 0u);
  List_PushBack(&list, &a);  // a freed list is a usable empty list
  EXPECT_EQ(Items(&list), (std::vector<void*>{&a}));
  List_Free(&list);
}

TEST(PointerList, RemoveTakesEveryCopy) {
  int a, b;
  List list{};
  EXPECT_EQ(List_Remove(&list, &a), 0);
  List_PushBack(&list, &a);
  List_PushBack(&list, &b);
  List_PushBack(&list, &a);
  List_PushFront(&list, &a);
  EXPECT_EQ(List_Remove(&list, &a), 1);
  EXPECT_EQ(list.count, 1u);
  EXPECT_EQ(Items(&list), (std::vector<void*>{&b}));
  EXPECT_EQ(List_Remove(&list, &a), 0);
  EXPECT_EQ(List_Remove(&list, &b), 1);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.count, 0u);
}

TEST(PointerList, ExhaustedCursorLeavesOutAlone) {
  int a;
  List list{};
  List_PushBack(&list, &a);
  ListNode* cursor;
  List_Begin(&list, &cursor);
  void* out = nullptr;
  EXPECT_EQ(List_Next(&cursor, &out), 1);
  EXPECT_EQ(out, &a);
  void* sentinel = &list;
  out = sentinel;
  EXPECT_EQ(List_Next(&cursor, &out), 0);
  EXPECT_EQ(out, sentinel);
  List_Free(&list);
}

}  // namespace

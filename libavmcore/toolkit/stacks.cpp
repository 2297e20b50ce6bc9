// Linked LIFO stacks of pointers and of u32 values.
#include "toolkit/stacks.h"

#include <new>

namespace {

template <typename Stack, typename Node, typename Value>
int32_t Push(Stack* stack, Value value) {
  Node* node = new (std::nothrow) Node{value, stack->top};
  if (node == nullptr) return 0;
  stack->top = node;
  stack->count += 1;
  return 1;
}

template <typename Stack, typename Value>
int32_t Pop(Stack* stack, Value* out) {
  auto* node = stack->top;
  if (stack->count == 0 || node == nullptr) {
    *out = Value{};
    return 0;
  }
  *out = node->value;
  stack->top = node->next;
  stack->count -= 1;
  delete node;
  return 1;
}

template <typename Stack, typename Value>
int32_t Peek(const Stack* stack, Value* out) {
  if (stack->count == 0 || stack->top == nullptr) {
    *out = Value{};
    return 0;
  }
  *out = stack->top->value;
  return 1;
}

}  // namespace

int32_t PtrStack_Push(PtrStack* stack, void* value) { return Push<PtrStack, PtrStackNode>(stack, value); }
int32_t U32Stack_Push(U32Stack* stack, uint32_t value) { return Push<U32Stack, U32StackNode>(stack, value); }
int32_t PtrStack_Pop(PtrStack* stack, void** out) { return Pop(stack, out); }
int32_t U32Stack_Pop(U32Stack* stack, uint32_t* out) { return Pop(stack, out); }
int32_t PtrStack_Peek(const PtrStack* stack, void** out) { return Peek(stack, out); }
int32_t U32Stack_Peek(const U32Stack* stack, uint32_t* out) { return Peek(stack, out); }

void U32Stack_Clear(U32Stack* stack) {
  U32StackNode* node = stack->top;
  while (node != nullptr) {
    U32StackNode* next = node->next;
    delete node;
    node = next;
  }
  stack->top = nullptr;
  stack->count = 0;
}

// One 16-byte block per entry on the 64-bit target.
static_assert(sizeof(void*) != 8 || (sizeof(PtrStackNode) == 16 && sizeof(U32StackNode) == 16),
              "stack nodes are 16 bytes");

#pragma once
#include <cstdint>

// Last-in-first-out work lists for region growing. A stack starts
// zero-initialised ({nullptr, 0}) and owns its nodes: each push allocates
// one node, each pop frees it and hands the value back.

struct PtrStackNode {
  void* value;
  PtrStackNode* next;  // toward older entries
};

struct PtrStack {
  PtrStackNode* top;  // null when empty
  uint32_t count;
};

struct U32StackNode {
  uint32_t value;
  U32StackNode* next;
};

struct U32Stack {
  U32StackNode* top;
  uint32_t count;
};

// Pushes value. Returns 1, or 0 (stack unchanged) when no node could be
// allocated.
int32_t PtrStack_Push(PtrStack* stack, void* value);
int32_t U32Stack_Push(U32Stack* stack, uint32_t value);

// Empty: *out = 0 (null), returns 0. Otherwise *out = top value, the top
// node is freed, returns 1.
int32_t PtrStack_Pop(PtrStack* stack, void** out);
int32_t U32Stack_Pop(U32Stack* stack, uint32_t* out);

// As Pop without removing the entry.
int32_t PtrStack_Peek(const PtrStack* stack, void** out);
int32_t U32Stack_Peek(const U32Stack* stack, uint32_t* out);

// Frees every node; the stack is empty afterwards. A PtrStack is emptied by
// popping until Pop returns 0.
void U32Stack_Clear(U32Stack* stack);

#pragma once
// Text and file helpers.

// First position in haystack where needle occurs, ignoring case; null for an
// empty needle, an empty haystack or no match.
const char* StrCaseStr(const char* haystack, const char* needle);

// Copies a file byte by byte. 1 on success, 0 on failure (with a message).
int copyFile(const char* src, const char* dst);

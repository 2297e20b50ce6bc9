#pragma once
// One process-wide lock over the lens-table selection and what hangs on it.
//
// The current lens-table slot, its intrinsics mode (trackCount) and fixed
// focal lengths (scaleX, scaleY) are process-wide, and a model-3 fit or
// projection selects its slot and reads them throughout. Work that selects a
// slot, changes the mode and fits holds this lock from the selection to the
// end of the fit, so that a concurrent solve never sees another camera's slot
// or mode, nor a table that is being reloaded. Recursive: a solve that holds
// it may call helpers that take it again.
#include <mutex>

std::recursive_mutex& LensTable_Mutex();

using LensTableLock = std::lock_guard<std::recursive_mutex>;

#pragma once
// The process's one decoder object behind the KRV_TVDecoder_* exports.
#include "pipeline/tvdecoder.h"

// The decoder, or null before Init and after Release.
TVDecoderBase* TVDecoder_Instance();

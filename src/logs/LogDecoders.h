#pragma once
// The decoder branches of the log objects (34 to 38), installed on the
// instrument connection's decoder by every front end:
//   options.decoderSetup = [](AnswerDecoder &decoder) { r310::logs::InstallLogDecoders(decoder); };
#include "DecodeAnswer.h"

namespace r310::logs {

void InstallLogDecoders(AnswerDecoder &decoder);

} // namespace r310::logs

// The serial wire's frames as a master and a module read them. Input: a request frame's worth
// of bytes (what the master sent), then what came back on the wire.
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "sim/serial_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < serialframe::RequestSize) return 0;
  const auto request = serialframe::DecodeRequest(data, serialframe::RequestSize);
  const uint8_t* wire = data + serialframe::RequestSize;
  const size_t n = size - serialframe::RequestSize;
  for (size_t at = 0; at < n; ++at) {
    const uint8_t* p = wire + at;
    const size_t left = n - at;
    const auto asRequest = serialframe::DecodeRequest(p, std::min(left, serialframe::RequestSize));
    const auto asAnswer = serialframe::DecodeAnswer(p, std::min(left, serialframe::AnswerSize));
    FuzzCheck(!(asRequest && asAnswer), "no bytes read both as a request and as an answer");
    if (asRequest)
      FuzzCheck(std::equal(p, p + serialframe::RequestSize, serialframe::EncodeRequest(*asRequest).begin()),
                "a request is read only as it was written");
    if (!asAnswer) continue;
    FuzzCheck(std::equal(p, p + serialframe::AnswerSize, serialframe::EncodeAnswer(*asAnswer).begin()),
              "an answer is read only as it was written");
    if (!request || !serialframe::Answers(*asAnswer, *request)) continue;
    FuzzCheck(asAnswer->tag == request->tag && asAnswer->address == request->address &&
                  asAnswer->command == request->command && asAnswer->index == request->index,
              "an answer is its request's only by every name it carries");
    if (serialframe::EchoesConfigAddress(request->command) && asAnswer->status == 0)
      FuzzCheck(asAnswer->data[1] == request->data[1] && asAnswer->data[2] == request->data[2],
                "a configuration answer names the configuration address asked for");
  }
  return 0;
}

// The LAN stand-in's reading of one received datagram. Input: the request's sequence number
// (4 bytes, little-endian), bus address and command, then the datagram.
#include "drivers/standin/standin_core.h"
#include "fuzz/fuzz_check.h"
#include "sim/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const uint32_t seq = simproto::GetU32(data);
  const auto received = standin::ParseReply(data + 6, size - 6, seq, data[4], data[5]);
  const auto answer = simproto::DecodeAnswer(data + 6, size - 6);
  if (received.kind != standin::Received::Answer) {
    FuzzCheck(received.kind == standin::Received::Damaged || (answer && int32_t(answer->seq - seq) < 0),
              "only a sound answer to an earlier request is passed over as late");
    return 0;
  }
  FuzzCheck(answer.has_value(), "only a well-formed answer is taken");
  FuzzCheck(answer->seq == seq && answer->address == data[4] && answer->command == data[5],
            "only this request's answer is taken");
  const standin::Reply* reply = &received.reply;
  FuzzCheck(simproto::ModuleStatus::Known(uint8_t(reply->status)) && reply->status == answer->status,
            "only a status a module gives is taken, as it came");
  bool dataShown = reply->aux != 0;
  for (uint32_t word : reply->response) {
    FuzzCheck(word <= 0xFF, "each result word holds one byte");
    dataShown = dataShown || word != 0;
  }
  FuzzCheck(reply->aux <= 0xFF, "the extra word holds one byte");
  FuzzCheck(reply->status == 0 || !dataShown, "a failed request shows no data");
  return 0;
}

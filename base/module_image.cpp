#include "base/module_image.h"

#include <utility>

namespace {

ConfigTransfer Transfer(const ModuleLink& link, const ImageEvents& events, ImagePhase phase) {
  ConfigTransfer::Events e;
  if (events.progress) e.progress = [&events, phase](int percent) { events.progress(phase, percent); };
  e.cancelled = events.cancelled;
  e.pause = events.pause;
  return ConfigTransfer(link.iface, link.handle, link.module, std::move(e));
}

ImageRead Read(const ModuleLink& link, const ImageEvents& events, ImagePhase phase,
               const std::vector<uint8_t>& addresses) {
  ImageRead read;
  read.result = Transfer(link, events, phase).Read(addresses, [&](std::size_t k, uint8_t value) {
    read.image.bytes[addresses[k]] = value;
    read.known[addresses[k]] = true;
  });
  return read;
}

}  // namespace

ImageRead ReadModuleImage(const ModuleLink& link, const ImageEvents& events, const std::vector<uint8_t>& addresses) {
  return Read(link, events, ImagePhase::Reading, addresses);
}

std::vector<ByteDifference> DifferingBytes(const ImageRead& module, const ConfigImage& wanted,
                                           const std::vector<uint8_t>& addresses) {
  std::vector<ByteDifference> differences;
  for (uint8_t a : addresses) {
    if (!module.known[a])
      differences.push_back({a, 0, wanted.at(a), false});
    else if (module.image.at(a) != wanted.at(a))
      differences.push_back({a, module.image.at(a), wanted.at(a), true});
  }
  return differences;
}

std::vector<ConfigByte> RestoreBytes(const ImageRead& before, const ConfigImage& wanted,
                                     const std::vector<uint8_t>& addresses) {
  std::vector<ConfigByte> bytes;
  for (const ByteDifference& d : DifferingBytes(before, wanted, addresses)) bytes.push_back({d.address, d.wanted});
  return bytes;
}

RestoreResult RestoreImage(const ModuleLink& link, const ImageRead& before, const ConfigImage& wanted,
                           const std::vector<uint8_t>& addresses, const ImageEvents& events) {
  RestoreResult result;
  result.writes = RestoreBytes(before, wanted, addresses);
  result.write = Transfer(link, events, ImagePhase::Writing).Write(result.writes);
  if (result.write.ok()) result.after = Read(link, events, ImagePhase::Verifying, ImageAddresses());
  const ConfigTransferResult& last = result.write.ok() ? result.after.result : result.write;
  if (last.outcome == ConfigTransferResult::Cancelled)
    result.outcome = RestoreResult::Cancelled;
  else if (!result.write.ok())
    result.outcome = RestoreResult::WriteFailed;
  else if (!result.after.ok())
    result.outcome = RestoreResult::ReadBackFailed;
  else if (result.differences = DifferingBytes(result.after.image, wanted, addresses); !result.differences.empty())
    result.outcome = RestoreResult::Differs;
  return result;
}

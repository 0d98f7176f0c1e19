// The line file as a disk, a copy or a hand may leave it: it is read whole or not at all, and
// what is read is written back to a file that reads back the same. An input that begins with
// '!' is sealed here after that mark, so that the fuzzer reaches past the seal.
#include <QByteArray>
#include <QString>

#include "base/files/sealed_text.h"
#include "fuzz/fuzz_check.h"
#include "base/config/line_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray given(reinterpret_cast<const char*>(data), qsizetype(size));
  const QByteArray text = given.startsWith('!') ? SealText(given.mid(1)) : given;
  LineFile line;
  QString error;
  if (!ParseLineFile(text, line, error)) {
    FuzzCheck(!error.isEmpty(), "a refused file says why");
    FuzzCheck(line.modules.isEmpty() && line.images.isEmpty(), "a refused file loads nothing");
    return 0;
  }
  FuzzCheck(line.modules.size() <= LineFileMaxModules, "at most the modules a line holds");
  const QByteArray written = FormatLineFile(line);
  LineFile back;
  FuzzCheck(ParseLineFile(written, back, error), "what was read is written back readable");
  FuzzCheck(back.modules.size() == line.modules.size() && back.images.size() == line.images.size() &&
                back.missing == line.missing,
            "written back, the same modules, images and missing ones");
  for (const LineModule& m : line.modules) {
    const ConfigImage* mine = line.image(m);
    const ConfigImage* theirs = back.image(m);
    FuzzCheck((mine == nullptr) == (theirs == nullptr) && (mine == nullptr || mine->bytes == theirs->bytes),
              "written back, each image the same");
  }
  FuzzCheck(FormatLineFile(back) == written, "written again, the same file");
  return 0;
}

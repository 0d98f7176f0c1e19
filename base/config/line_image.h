#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <functional>

#include "base/config/line_file.h"
#include "base/config/module_image.h"

// A line's configuration module by module, as the workbench's driver thread and the companion
// both do it: each module identified and its whole image read for a backup or a comparison, or
// restored from a line file with read-back; and the backup's line file made of what was read.
// Nothing here prints or loops over the line: the caller owns the loop, its progress and when
// it stops.

// How the modules of a line are reached: the driver's interface and open handle, and `reach`,
// which sets the line to a module's rate before its exchanges: 0, or the failure's status with
// its text in `error`.
struct LineAccess {
  uint8_t iface = 0;
  uint32_t handle = 0;
  std::function<uint32_t(const LineModule& module, QString& error)> reach;
  ModuleLink link(const LineModule& m) const { return {iface, handle, m.address}; }
};

// A module's configuration image as far as it could be read, with its identification.
struct ModuleImage {
  LineModule module;
  QString ident;
  ImageRead read;
  uint32_t status = 0;  // identification or read failure
  QString error;
  bool ok() const { return status == 0 && read.ok(); }
};
ModuleImage ReadLineModule(const LineAccess& access, const LineModule& module, const ImageEvents& events = {});

// One module to restore, and what of the wanted image to write.
struct RestoreJob {
  LineModule module;
  ConfigImage wanted;
  ImageSelection selection;
};

struct RestoreReport {
  LineModule module;
  RestoreResult result;
  QString text;  // how it went, for the operator
  bool ok() const { return result.ok(); }
};
// A wanted image holding a byte the settings windows would refuse is reported refused before
// any traffic; so is, with nothing written, a module of another type than the job's (it would
// take settings that mean something else to it). Otherwise the module is read, the differing
// bytes written with read-back and the whole image read back and compared (RestoreImage).
RestoreReport RestoreLineModule(const LineAccess& access, const RestoreJob& job, const ImageEvents& events = {});

// Whether the module answering at the job's place is of the job's type: empty when it is, else
// why not ("modul neodpovídá: …", "na adrese je jiný modul (…), v záloze …; nic nezapsáno");
// `status` the identification's.
QString OtherModuleText(const LineAccess& access, const LineModule& module, uint32_t& status);

// The backup of the modules read, in their order: each that answered with its image and the
// identification it gave, each other one missing. Empty modules when none answered.
LineFile LineBackup(const QVector<ModuleImage>& images, const QDateTime& saved);
// What a backup saved where ("do SOUBOR") and which modules it lacks, for the operator
// ("Zálohovány 3 moduly do X. Neodpověděl 1 modul, v záloze chybí: …").
QString LineBackupText(qsizetype saved, const QString& where, const QStringList& missing);

// "adresa 5, 57600 Bd"
QString LineModuleText(const LineModule& m);
// "3 moduly"
QString LineModulesText(qsizetype n);

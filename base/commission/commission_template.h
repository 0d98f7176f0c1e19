#pragma once
// Where a commissioning's template comes from: a module's configuration backup, or the image
// of one module of a line file (a line backup), picked by its address.

#include <QString>

#include "base/config/config_image.h"

struct CommissionTemplate {
  ConfigImage image;
  QString type;  // the module type it was taken from (ModuleTypeName)
};

// `argument` is FILE, or FILE:ADDR (or FILE:ADDR@RATE) for a module of a line file; a line file
// that holds one image needs no address. False with the operator's message for a file that
// cannot be read or is neither, a module that is not in the line or has no image there.
bool LoadCommissionTemplate(const QString& argument, CommissionTemplate& out, QString& error);

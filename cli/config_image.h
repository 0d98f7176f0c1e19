#pragma once

// The configuration image and its backup file live in the widget-free layer.
#include "base/config_backup.h"
#include "base/config_image.h"

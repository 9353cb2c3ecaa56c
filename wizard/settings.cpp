#include "wizard/settings.h"

MigrationSettings& ProgramSettings() {
  static MigrationSettings settings;
  return settings;
}

#include "options/settings.h"

MigrationSettings& ProgramSettings() {
  static MigrationSettings settings;
  return settings;
}

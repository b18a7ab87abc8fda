#include "base/ServiceLevel.h"

#include "base/Config.h"
#include "base/Diag.h"

namespace quelm {

// The level stays in the flag word, where the diagnostic builds have always
// shown it; this file is its only reader and writer.
bool serviceLevel() { return (DiagFlags & kServiceLevelBits) == kServiceLevelBits; }

void setServiceLevel(bool on) {
  if (on)
    DiagFlags |= kServiceLevelBits;
  else
    DiagFlags &= ~kServiceLevelBits;
}

bool loadServiceLevel(const QString& configPath) {
  AppConfig config;
  setServiceLevel(ReadConfig(configPath, config) == 0 && config.Professional);
  return serviceLevel();
}

QString serviceLevelRefusal(const QString& what, const QString& configPath) {
  return QStringLiteral("%1 needs the service level, which the configuration file %2 does not switch on")
      .arg(what, configPath);
}

}  // namespace quelm

#pragma once
// The service level: whether this process may write parameter tables, run
// the service functions and load reader software. The main window sets it
// from the configuration it loads, the command line from the configuration
// file it is given; everything else only asks serviceLevel().

#include <QString>

namespace quelm {

bool serviceLevel();
void setServiceLevel(bool on);

// Sets the service level from the configuration file at configPath (off
// when the file cannot be read) and returns it.
bool loadServiceLevel(const QString& configPath);

// The one wording of a refusal, "<what> needs the service level, which the
// configuration file <configPath> does not switch on".
QString serviceLevelRefusal(const QString& what, const QString& configPath);

}  // namespace quelm

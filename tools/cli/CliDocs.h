#pragma once
// The manual page and the bash completion of quelm-cli, made from the same
// command registry as its --help, so that neither can fall out of step.

#include <QString>
#include <QStringList>

namespace quelm::cli {

// Every "--option" a help text names, once each, in order of appearance.
QStringList optionsIn(const QString& text);

// The manual page quelm-cli(1) in roff.
QString manPage();

// A bash completion script for quelm-cli.
QString bashCompletion();

}  // namespace quelm::cli

#pragma once
// The simulator's prepared configurations (the README's table): which units are attached, what
// their memories hold and what goes wrong with them.

#include <QString>
#include <QStringList>

namespace simulator {

QStringList configuration_names();

// The flash of the "older_revision" unit: a Lumo-7's firmware, of a revision other than
// `desired_revision` (the desired firmware's; empty while that is not known).
QByteArray older_revision_firmware(const QString& desired_revision);

// Writes a configuration's units into `dir`, a folder each, named by its port (so that two
// units may share a serial); returns their names in listing order (none for an unknown name).
// A failed write ends the run.
QStringList write_configuration(const QString& name, const QString& dir);

} // namespace simulator

#pragma once
// What the benchmark's modes share (tools/bench.cpp measures processes and the upgrade,
// tools/bench_record.cpp the upgrade record).

#include <QString>

namespace Bench {

constexpr int bound_ms = 120000; // no single wait lasts longer

// One "name value unit" line on standard output.
void print(const QString& name, double value, const char* unit);

// The record's modes, each in the QApplication that main() made: 0 when measured.
int record_write();
int record_filter();
int central_ship();

} // namespace Bench

// The health verdicts as metrics in the Prometheus text format, for the
// textfile collector of node_exporter. Every drive's series carry its
// device, address, model and serial as labels.
//
//   tapediag_drive_status{status=...}      1 for the drive's verdict, 0 for the others
//   tapediag_cartridge_status{status=...}  likewise for the cartridge
//   tapediag_tapealert_flag{flag,name,severity}  1 while raised (page 2Eh)
//   tapediag_errors_corrected_total{direction}   page 02h (write) and 03h (read), 0003h
//   tapediag_errors_uncorrected_total{direction} 0006h
//   tapediag_processed_bytes_total{direction}    0005h
//   tapediag_cleaning_required             page 0Ch, 0100h
//   tapediag_temperature_celsius, tapediag_temperature_reference_celsius  page 0Dh
//   tapediag_health_timestamp_seconds      when the check ran
//
// A drive without a page has no series for it.
#ifndef TAPEDIAG_PROMETHEUSOUTPUT_H
#define TAPEDIAG_PROMETHEUSOUTPUT_H

#include <string>
#include <vector>

#include "HealthRules.h"

// `checkedAt` in seconds since the epoch.
std::string PrometheusText(const std::vector<CDriveHealth>& health, long checkedAt);

#endif

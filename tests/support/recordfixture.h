#pragma once
// A calibration record as the tests use it: one unit, one reference, the output checked as found and
// as left, and the constants the calibration stored.
#include "records/run.h"

inline vx::records::Run sampleRecord(const std::string& serial = "SN-2207-0042") {
    using namespace vx::records;
    Run run;
    run.unit = {serial, "VX2207 V", "V2014-10-06", "2026-12-01", 1234, 24.5, 22.0, 31.25};
    run.engineer = "Kovács Éva";
    run.ambient = 23.4;
    run.references = {{"Bench DMM 6½", "DMM-77", "MKEH-2026/118", "2099-01-31"}};
    const std::vector<CheckPoint> plan = outputPlan(100, 4, 20);
    for (const CheckPoint& c : plan) {
        run.points.push_back(makePoint(Phase::AsFound, c, c.nominal * 1.02 + 0.05, c.nominal, {}, run.rule));
        run.points.push_back(
            makePoint(Phase::AsLeft, c, c.nominal + 0.001 * c.percent / 100, c.nominal, {}, run.rule));
    }
    run.constants = {
        {StoredConstants::Kind::Output, {10500, 53000, 10400, 52000}, "2026-12-09T01:02:03.456Z"}};
    return run;
}

// The pure parts of the trend, the recording and the traffic monitor.
#include "app/tools/CsvRecorder.h"
#include "app/tools/Traffic.h"
#include "app/tools/TrendStore.h"
#include "instrument/codes.h"
#include "samples.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vx::app::tools;
namespace ins = vx::instrument;

namespace {

using Range = std::pair<std::int64_t, std::int64_t>;

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string tempPath(const char* name) {
    return (testing::TempDir() + name) + std::to_string(::getpid());
}

Measurement sample() {
    ins::Reply r = vx::test::sampleReply({.input = 12.5,
                                          .outputType = ins::kTypeVoltage,
                                          .outputLow = 0,
                                          .outputHigh = 10,
                                          .outputFraction = 0.25,
                                          .temperature = 24.25});
    r.StatusFlags = ins::kStatusFramError | ins::kStatusInputRangeError;
    r.AdRaw0 = -5;
    r.AdFiltered1 = 8388607;
    return measure(r);
}

} // namespace

TEST(Csv, FieldsNumbersAndTimesAsMachinesReadThem) {
    EXPECT_EQ(csvField("mA"), "mA");
    EXPECT_EQ(csvField("a, b"), "\"a, b\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(csvNumber(0.1f), "0.1");
    EXPECT_EQ(csvNumber(std::nan("")), "");
    EXPECT_EQ(csvNumber(1e300), "");
    // A Hungarian desktop's decimal comma reaches the C library; the file keeps its full stop.
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "hu_HU.UTF-8")) GTEST_SKIP() << "hu_HU.UTF-8 is not generated";
    EXPECT_EQ(csvNumber(-2.5), "-2.5");
    const std::string row = csvRow(0, sample());
    std::setlocale(LC_NUMERIC, before.c_str());
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    EXPECT_EQ(isoLocalTime(1'720'000'000'123), "2024-07-03T11:46:40.123+02:00");
    EXPECT_EQ(isoLocalTime(-1), "1970-01-01T00:59:59.999+01:00");
    EXPECT_EQ(row.substr(row.find(',')),
              ",12.5,mA,2.5,V,-25 mA ... +25 mA,FRAM error; input range error,24.25,-5,0,0,8388607,\r\n");
    ::unsetenv("TZ");
    ::tzset();
}

TEST(Csv, RowsReachTheFileWhenDueAndAFailureKeepsWhatWasWritten) {
    const std::string path = tempPath("rec.csv");
    CsvRecorder rec;
    ASSERT_TRUE(rec.start(path));
    EXPECT_EQ(slurp(path), csvHeader());
    rec.append(1000, sample(), 0);
    rec.append(1100, sample(), CsvRecorder::kFlushAfterMs - 1);
    EXPECT_EQ(slurp(path), csvHeader()); // not yet due
    rec.tick(CsvRecorder::kFlushAfterMs);
    EXPECT_EQ(slurp(path), csvHeader() + csvRow(1000, sample()) + csvRow(1100, sample()));
    rec.append(1200, sample(), 600);
    rec.stop(); // what waits is written at the stop
    EXPECT_EQ(rec.rows(), 3u);
    EXPECT_TRUE(rec.error().empty());
    EXPECT_EQ(slurp(path).size(), csvHeader().size() + 3 * csvRow(1000, sample()).size());

    // A disk that fills up in the middle ends the recording; the file ends at the last whole row.
    const std::size_t limit = csvHeader().size() + 2 * csvRow(0, sample()).size() + 10;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &small);
    ASSERT_TRUE(rec.start(path, true));
    for (int i = 0; i < 5 && rec.recording(); ++i)
        rec.append(i, sample(), i * 1000);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(rec.recording());
    EXPECT_FALSE(rec.error().empty());
    EXPECT_EQ(slurp(path), csvHeader() + csvRow(0, sample()) + csvRow(1, sample()));
    ::unlink(path.c_str());
}

TEST(Csv, OnlyARegularFileIsRecordedToAndNeverReplacedUnasked) {
    const std::string path = tempPath("old.csv"), fifo = tempPath("fifo.csv");
    std::ofstream(path) << "kept";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    struct Case {
        std::string path;
        bool overwrite, starts;
        const char* error;
    } cases[] = {
        {path, false, false, "exists"},
        {"/dev/full", true, false, "not a regular file"},
        {fifo, true, false, "not a regular file"}, // with a reader
        {path, true, true, ""},
    };
    for (const Case& c : cases) {
        CsvRecorder rec;
        EXPECT_EQ(rec.start(c.path, c.overwrite), c.starts) << c.path;
        EXPECT_NE(rec.error().find(c.error), std::string::npos) << c.path << ": " << rec.error();
        if (!c.starts) {
            EXPECT_EQ(slurp(path), "kept");
        }
    }
    ::close(reader);
    CsvRecorder rec; // without a reader: refused at once instead of waiting for one
    EXPECT_FALSE(rec.start(fifo, true));
    EXPECT_EQ(slurp(path), csvHeader());
    ::unlink(path.c_str());
    ::unlink(fifo.c_str());
}

TEST(Csv, StoppingOnADeviceThatNeverAnswersIsBounded) {
    const std::string path = tempPath("dead.csv");
    auto release = std::make_shared<std::atomic<bool>>(false);
    {
        CsvRecorder rec(100, [release](int) {
            while (!*release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return 0;
        });
        ASSERT_TRUE(rec.start(path));
        const auto begin = std::chrono::steady_clock::now();
        rec.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
        EXPECT_FALSE(rec.recording());
        EXPECT_NE(rec.error().find("did not answer"), std::string::npos) << rec.error();
    }
    *release = true; // the abandoned sync ends; the thread closes the file and goes
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::unlink(path.c_str());
}

TEST(Trend, GapsBreakTheLineAndColumnsKeepTheExtremes) {
    TrendStore s;
    const auto v = [](float x) { return TrendValues{x, 2 * x, 0, 0}; };
    for (int i = 0; i < 10; ++i)
        s.add(i * 50, v(static_cast<float>(i)));
    s.addGap(600); // a time-out
    s.add(700, v(100));
    s.add(700 + TrendStore::kMaxStepMs + 1, v(5)); // too long a silence is a gap as well
    const std::vector<TrendPoint> p = s.points(TrendChannel::Input, 0, 20'000, 1000);
    std::vector<double> values;
    for (const TrendPoint& x : p)
        values.push_back(x.v);
    ASSERT_EQ(values.size(), 14u);
    EXPECT_TRUE(std::isnan(values[10]));
    EXPECT_EQ(values[11], 100);
    EXPECT_TRUE(std::isnan(values[12])) << "silence not broken";
    EXPECT_EQ(values[13], 5);
    // On one column the ten replies before the gap become their lowest and highest.
    const std::vector<TrendPoint> narrow = s.points(TrendChannel::Output, 0, 1000, 1);
    ASSERT_GE(narrow.size(), 3u);
    EXPECT_EQ(narrow[0].v, 0);
    EXPECT_EQ(narrow[1].v, 18);
    EXPECT_TRUE(std::isnan(narrow[2].v));
    // The cursor reads the nearest reply, nothing inside a gap.
    EXPECT_EQ((*s.at(120, 1000))[0], 2.0f);
    EXPECT_FALSE(s.at(610, 1000));
    EXPECT_FALSE(s.at(3000, 1000));
}

TEST(Trend, ADayAtTwentyRepliesASecondStaysBounded) {
    TrendStore::Limits l;
    TrendStore s(l);
    const std::int64_t day = 24 * 3600 * 1000;
    for (std::int64_t t = 0; t < day + 3600 * 1000; t += 50)
        s.add(t, {static_cast<float>(t % 1000), 0, 0, 0});
    EXPECT_LE(s.fineCount(), l.fineCap);
    EXPECT_LE(s.bucketCount(), static_cast<std::size_t>(l.historyMs / l.bucketMs) + 1);
    EXPECT_GE(s.oldest(), s.newest() - l.historyMs - l.bucketMs);
    // The folded history still draws, with its extremes.
    const auto p = s.points(TrendChannel::Input, s.oldest(), s.oldest() + 60'000, 12);
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(std::max_element(p.begin(), p.end(), [](auto& a, auto& b) { return a.v < b.v; })->v, 950);
}

TEST(Trend, ViewportSpansPauseZoomAndPan) {
    TrendViewport v;
    for (int m : TrendViewport::kSpanMinutes) {
        v.setSpanMinutes(m);
        EXPECT_EQ(v.range(1'000'000), Range(1'000'000 - m * 60'000LL, 1'000'000));
    }
    v.setSpanMinutes(7); // not offered: ignored
    EXPECT_EQ(v.span(), 3'600'000);
    v.setSpanMinutes(1);
    v.hold(100'000);
    EXPECT_EQ(v.range(500'000).second, 100'000); // held while replies come in
    v.zoom(0.5, 70'000, 500'000);                // about the time under the mouse
    EXPECT_EQ(v.range(500'000), Range(55'000, 85'000));
    v.pan(-10'000, 500'000);
    EXPECT_EQ(v.range(500'000), Range(45'000, 75'000));
    v.pan(1'000'000, 500'000); // not past the newest reply
    EXPECT_EQ(v.range(500'000).second, 500'000);
    v.zoom(1e-9, 0, 0);
    EXPECT_EQ(v.span(), TrendViewport::kMinSpanMs);
    v.resume();
    EXPECT_EQ(v.range(900'000).second, 900'000);
}

TEST(Traffic, TheRingKeepsTheLastAndDecodesWhatItKept) {
    TrafficRing ring(3);
    ins::Request q;
    q.Year = 2024;
    const std::vector<std::uint8_t> request = vx::test::requestFrame(q, {0xAB, 0xCD});
    const std::vector<std::uint8_t> slaveErr = {0x81, 0x00, 130, 0x12, 0x34};
    for (int i = 0; i < 5; ++i) {
        LinkExchange e;
        e.wallMs = i;
        e.attempt = static_cast<std::uint8_t>(i % 2 + 1);
        e.outcome = i == 4 ? Outcome::SlaveError : Outcome::TimeOut;
        e.slaveError = 130;
        e.request = request;
        if (i == 4) e.reply = slaveErr;
        ring.push(e);
    }
    ASSERT_EQ(ring.size(), 3u);
    EXPECT_EQ(ring.firstNumber(), 3u);
    EXPECT_EQ(ring.at(0).wallMs, 2);
    EXPECT_EQ(ring.byNumber(2), nullptr);
    const RecordedExchange& last = *ring.byNumber(5);
    EXPECT_EQ(outcomeText(last.outcome, last.slaveError), "slave error 130");
    EXPECT_EQ(last.requestLength, 107);
    const DecodedFrame rq = decodeRequestFrame(last);
    EXPECT_EQ(rq.header.back().value, "cdab");
    EXPECT_EQ(rq.fields[10].name, "Year");
    EXPECT_EQ(rq.fields[10].value, "2024");
    const DecodedFrame rp = decodeReplyFrame(last);
    EXPECT_EQ(rp.header[2], (ins::NamedField{"Status", "130"}));
    EXPECT_TRUE(rp.fields.empty()); // an error reply carries no data
    EXPECT_NE(exchangeText(last).find("  < 0000  81 00 82 12 34 "), std::string::npos);
    // A frame longer than what is kept keeps its start and says so.
    std::vector<std::uint8_t> huge(1000, 0x55);
    LinkExchange e;
    e.reply = huge;
    ring.push(e);
    EXPECT_EQ(ring.byNumber(6)->reply.size(), TrafficRing::kKeptFrameBytes);
    EXPECT_TRUE(decodeReplyFrame(*ring.byNumber(6)).truncated);
    ring.clear();
    EXPECT_EQ(ring.size(), 0u);
    EXPECT_EQ(ring.nextNumber(), 7u);
}

#include "session/log_sink.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "known_lines.h"
#include "log_capture.h"

namespace {

using corvo::log_message;

TEST(LogSink, LineOfExactly1022CharactersArrivesWhole) {
    LogCapture log;
    const std::string text(1022, 'a');
    log_message(corvo::kLogInfo, "%s", text.c_str());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], (LogLine{1, text, 1022}));
}

TEST(LogSink, LongLineIsCutTo1022CharactersAndTerminated) {
    LogCapture log;
    std::string text;
    for (int i = 0; i < 2000; ++i) text.push_back(static_cast<char>('a' + i % 26));
    log_message(corvo::kLogError, "%s", text.c_str());
    ASSERT_EQ(log.lines().size(), 1u);
    const LogLine line = log.lines()[0];
    EXPECT_EQ(line.level, 3);
    EXPECT_EQ(line.length, 1022u);
    EXPECT_EQ(line.text, text.substr(0, 1022));  // std::string(text) stops at the terminator
}

TEST(LogSink, EmptyLineIsNotDelivered) {
    LogCapture log;
    log_message(corvo::kLogInfo, "%s", "");
    log_message(corvo::kLogInfo, "%.0s", "dropped");
    EXPECT_TRUE(log.lines().empty());
}

TEST(LogSink, ConversionsFormatAsThePrintfFamily) {
    LogCapture log;
    log_message(corvo::kLogError, "hr:%08x", static_cast<unsigned>(0x887A0005));
    log_message(corvo::kLogError, "Winrt exception:%ld", static_cast<long>(static_cast<int32_t>(0x80070057)));
    log_message(corvo::kLogError, "Failed to allocate %uKB", 8100u);
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"hr:887a0005", "Winrt exception:-2147024809", "Failed to allocate 8100KB"}));
}

TEST(LogSink, LinesWithoutALoggerAreDropped) {
    { LogCapture log; }
    log_message(corvo::kLogInfo, "nobody listens");  // must simply return
    LogCapture log;
    log_message(corvo::kLogInfo, "heard");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"heard"});
}

}  // namespace

// Hosts match the texts: the published table and the lines the tests accept are one list.
TEST(LogSink, ThePublishedTableListsEveryLineTheLibraryLogs) {
    std::ifstream doc(CORVO_LOG_LINES_DOC);
    ASSERT_TRUE(doc) << CORVO_LOG_LINES_DOC;
    std::set<std::string> published;
    for (std::string row; std::getline(doc, row);) {
        const size_t open = row.find("| `");
        const size_t close = row.find("` |", open + 3);
        if (open == 0 && close != std::string::npos) published.insert(row.substr(3, close - 3));
    }
    std::set<std::string> known{"WgcCaptureSession::Start"};
    for (const char *format : known_lines::kFormats) known.insert(format);
    EXPECT_EQ(published, known);
}

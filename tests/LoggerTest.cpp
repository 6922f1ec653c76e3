#include "QVTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Sends records to a fresh memory sink for one test and restores the default sink after.
class MemorySinkScope {
 public:
  MemorySinkScope() : sink_(std::make_shared<QVMemoryLogSink>()) { QVLogger::SetSink(sink_); }
  ~MemorySinkScope() { QVLogger::SetSink(nullptr); }
  MemorySinkScope(const MemorySinkScope&) = delete;
  MemorySinkScope& operator=(const MemorySinkScope&) = delete;
  QVMemoryLogSink* operator->() const { return sink_.get(); }
  const std::shared_ptr<QVMemoryLogSink>& get() const { return sink_; }

 private:
  std::shared_ptr<QVMemoryLogSink> sink_;
};

// Disables a logger at the end of a test whatever happened in between.
class EnabledScope {
 public:
  explicit EnabledScope(std::string name) : name_(std::move(name)) { QVLogger::SetEnabled(name_, true); }
  ~EnabledScope() { QVLogger::SetEnabled(name_, false); }
  EnabledScope(const EnabledScope&) = delete;
  EnabledScope& operator=(const EnabledScope&) = delete;

 private:
  std::string name_;
};

using Texts = std::vector<std::string>;

}  // namespace

TEST(LogFormat, PositionsInAnyOrderAndRepeated) {
  EXPECT_EQ(QVFormatPositional("%_2_s then %_1_s", {"first", "second"}), "second then first");
  EXPECT_EQ(QVFormatPositional("%_1_s-%_1_s-%_2_s-%_1_s", {"a", "b"}), "a-a-b-a");
  EXPECT_EQ(QVFormatPositional("no placeholders", {"unused"}), "no placeholders");
  EXPECT_EQ(QVFormatPositional("", {}), "");
  EXPECT_EQ(QVFormatPositional("%_1_s%_2_s", {"x", "y"}), "xy");  // adjacent, nothing between
  EXPECT_EQ(QVFormatPositional("[%_1_d]", {7}), "[7]");

  // Positions of more than one digit.
  EXPECT_EQ(QVFormatPositional("%_12_s/%_10_ld/%_1_s", {"v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9", 10, "v11", "v12"}),
            "v12/10/v1");

  const std::string owned = "from a string";
  EXPECT_EQ(QVFormatPositional("<%_1_s>", {owned}), "<from a string>");

  const QVLogArg values[] = {QVLogArg("one"), QVLogArg(2)};
  EXPECT_EQ(QVFormatPositional("%_2_ld %_1_s", values, 2), "2 one");
}

TEST(LogFormat, NumbersAndTextConvertReadably) {
  EXPECT_EQ(QVFormatPositional("%_1_ld", {-1234567890123L}), "-1234567890123");
  EXPECT_EQ(QVFormatPositional("%_1_ld", {-42}), "-42");
  EXPECT_EQ(QVFormatPositional("%_1_ld", {0}), "0");
  EXPECT_EQ(QVFormatPositional("%_1_ld", {4000000000u}), "4000000000");
  EXPECT_EQ(QVFormatPositional("%_1_ld", {-9000000000LL}), "-9000000000");
  EXPECT_EQ(QVFormatPositional("%_1_ld|%_2_ld", {2147483647, -2147483647 - 1}), "2147483647|-2147483648");

  // A number for a text placeholder and text for a number placeholder still read well.
  EXPECT_EQ(QVFormatPositional("count %_1_s", {17}), "count 17");
  EXPECT_EQ(QVFormatPositional("name %_1_ld", {"alpha"}), "name alpha");

  // A null C string.
  EXPECT_EQ(QVFormatPositional("value %_1_s.", {static_cast<const char*>(nullptr)}), "value (null).");

  const QVLogArg number(-5L);
  EXPECT_TRUE(number.isNumber());
  EXPECT_EQ(number.number(), -5L);
  const QVLogArg text("t");
  EXPECT_FALSE(text.isNumber());
  EXPECT_STREQ(text.text(), "t");
}

TEST(LogFormat, MissingAndMalformedPlaceholders) {
  EXPECT_EQ(QVFormatPositional("a=%_1_s b=%_3_ld", {"x", 2}), "a=x b=<missing %_3_ld>");
  EXPECT_EQ(QVFormatPositional("%_2_s", {}), "<missing %_2_s>");
  EXPECT_EQ(QVFormatPositional("%_1_s and %_2_s", {"only"}), "only and <missing %_2_s>");

  // Malformed placeholders are copied as they stand; what follows is still formatted.
  EXPECT_EQ(QVFormatPositional("%_", {"v"}), "%_");
  EXPECT_EQ(QVFormatPositional("%_x_s %_1_s", {"v"}), "%_x_s v");
  EXPECT_EQ(QVFormatPositional("%_1_", {"v"}), "%_1_");
  EXPECT_EQ(QVFormatPositional("%_1_q", {"v"}), "%_1_q");
  EXPECT_EQ(QVFormatPositional("%_1s", {"v"}), "%_1s");
  EXPECT_EQ(QVFormatPositional("100%", {"v"}), "100%");
  EXPECT_EQ(QVFormatPositional("50% of %_1_s", {"v"}), "50% of v");
  EXPECT_EQ(QVFormatPositional("trailing %", {}), "trailing %");
  EXPECT_EQ(QVFormatPositional("%", {}), "%");
  EXPECT_EQ(QVFormatPositional("%s %d", {"v"}), "%s %d");
  EXPECT_EQ(QVFormatPositional("%%_1_s", {"v"}), "%v");
}

TEST(Logger, DisabledLoggerWritesOnlyErrors) {
  const std::string name = "LoggerTest.Disabled";
  MemorySinkScope sink;
  QVObjectPtrT<ILogger> logger = QVLogger::GetLogger(name);
  ASSERT_TRUE(logger);
  EXPECT_FALSE(QVLogger::IsEnabled(name));  // a new name starts disabled
  EXPECT_FALSE(logger->isEnabled());

  logger->logFormatted("a.cpp", 1, "formatted %_1_s", {"x"});
  logger->traceEnter("Function", "a.cpp", 2);
  logger->traceExit("Function", "a.cpp", 3);
  logger->logNoticeText("notice", "a.cpp", 4);
  EXPECT_TRUE(sink->records().empty());

  logger->logErrorFormatted("error %_1_ld", 5, "a.cpp", {-3});
  logger->logErrorText("plain error", "a.cpp", 6);
  EXPECT_EQ(sink->texts(name), (Texts{"error -3", "plain error"}));
  EXPECT_EQ(sink->texts(name, QVLogKind::Error), (Texts{"error -3", "plain error"}));

  // Enabling and disabling again through the registry switches the same logger.
  QVLogger::SetEnabled(name, true);
  EXPECT_TRUE(logger->isEnabled());
  logger->logNoticeText("now visible", "a.cpp", 7);
  QVLogger::SetEnabled(name, false);
  EXPECT_FALSE(QVLogger::IsEnabled(name));
  logger->logNoticeText("hidden again", "a.cpp", 8);
  EXPECT_EQ(sink->texts(name, QVLogKind::Notice), (Texts{"now visible"}));
  EXPECT_FALSE(sink->contains("hidden again"));
}

TEST(Logger, EnabledLoggerWritesEveryKind) {
  const std::string name = "LoggerTest.Enabled";
  MemorySinkScope sink;
  EnabledScope enabled(name);
  QVObjectPtrT<ILogger> logger = QVLogger::GetLogger(name);
  EXPECT_TRUE(logger->isEnabled());
  EXPECT_FALSE(QVLogger::IsEnabled("LoggerTest.Enabled.Other"));  // per name

  logger->traceEnter("Run", "run.cpp", 10);
  logger->logFormatted("run.cpp", 11, "step %_2_ld of %_1_s", {"job", 3});
  logger->logNoticeText("noted", "notice.cpp", 12);
  logger->logErrorFormatted("failed: %_1_s", 13, "err.cpp", {"disk"});
  logger->logErrorText("bad", "err.cpp", 14);
  logger->traceExit("Run", "run.cpp", 15);
  QVLogger::GetLogger("LoggerTest.Enabled.Other")->logErrorText("other", nullptr, 0);

  const std::vector<QVLogRecord> records = sink->records();
  ASSERT_EQ(records.size(), 7u);
  struct Expected {
    QVLogKind kind;
    const char* text;
    const char* file;
    int line;
  };
  const Expected expected[] = {
      {QVLogKind::TraceEnter, "Run", "run.cpp", 10}, {QVLogKind::Formatted, "step 3 of job", "run.cpp", 11},
      {QVLogKind::Notice, "noted", "notice.cpp", 12}, {QVLogKind::Error, "failed: disk", "err.cpp", 13},
      {QVLogKind::Error, "bad", "err.cpp", 14},       {QVLogKind::TraceExit, "Run", "run.cpp", 15},
  };
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].logger, name);
    EXPECT_EQ(records[i].kind, expected[i].kind);
    EXPECT_EQ(records[i].text, expected[i].text);
    EXPECT_EQ(records[i].file, expected[i].file);
    EXPECT_EQ(records[i].line, expected[i].line);
  }
  EXPECT_EQ(records[6].logger, "LoggerTest.Enabled.Other");
  EXPECT_EQ(records[6].file, "");  // a null file is written as empty

  EXPECT_EQ(sink->texts(name, QVLogKind::TraceEnter), (Texts{"Run"}));
  EXPECT_EQ(sink->texts(name, QVLogKind::Formatted), (Texts{"step 3 of job"}));
  EXPECT_EQ(sink->texts(name, QVLogKind::Error), (Texts{"failed: disk", "bad"}));
  EXPECT_EQ(sink->texts("LoggerTest.Enabled.Other"), (Texts{"other"}));

  EXPECT_EQ(QVFormatLogLine(records[1]), "LoggerTest.Enabled INFO step 3 of job [run.cpp:11]");
  EXPECT_EQ(QVFormatLogLine(records[6]), "LoggerTest.Enabled.Other ERROR other");
  EXPECT_STREQ(QVLogKindName(QVLogKind::TraceEnter), "ENTER");
  EXPECT_STREQ(QVLogKindName(QVLogKind::TraceExit), "EXIT");
  EXPECT_STREQ(QVLogKindName(QVLogKind::Notice), "NOTICE");
  EXPECT_STREQ(QVLogKindName(QVLogKind::Error), "ERROR");
}

TEST(Logger, HandlesAreCountedAndReleasedOnce) {
  const std::string name = "LoggerTest.Handles";
  EXPECT_EQ(QVLogger::HandleCount(name), 0);
  {
    QVObjectPtrT<ILogger> first = QVLogger::GetLogger(name);
    QVObjectPtrT<ILogger> second = QVLogger::GetLogger(name);
    EXPECT_EQ(QVLogger::HandleCount(name), 2);
    EXPECT_EQ(first.get(), second.get());  // one logger per name

    first.reset();
    EXPECT_FALSE(first);
    EXPECT_EQ(QVLogger::HandleCount(name), 1);
    first.reset();  // nothing left to release
    EXPECT_EQ(QVLogger::HandleCount(name), 1);

    QVObjectPtrT<ILogger> moved(std::move(second));
    EXPECT_FALSE(second);
    EXPECT_TRUE(moved);
    EXPECT_EQ(QVLogger::HandleCount(name), 1);

    QVObjectPtrT<ILogger> assigned;
    assigned = std::move(moved);
    EXPECT_EQ(QVLogger::HandleCount(name), 1);

    assigned = QVLogger::GetLogger(name);  // releases the one it held
    EXPECT_EQ(QVLogger::HandleCount(name), 1);
  }
  EXPECT_EQ(QVLogger::HandleCount(name), 0);
}

TEST(Logger, SetSinkNullRestoresDefault) {
  const std::string name = "LoggerTest.DefaultSink";
  auto memory = std::make_shared<QVMemoryLogSink>();
  QVLogger::SetSink(memory);
  EXPECT_EQ(QVLogger::GetSink(), memory);
  QVLogger::GetLogger(name)->logErrorText("to memory", "s.cpp", 1);
  QVLogger::SetSink(nullptr);
  const std::shared_ptr<QVLogSink> restored = QVLogger::GetSink();
  ASSERT_NE(restored, nullptr);
  EXPECT_NE(restored, memory);
  EXPECT_EQ(dynamic_cast<QVMemoryLogSink*>(restored.get()), nullptr);
  EXPECT_NE(dynamic_cast<QVStreamLogSink*>(restored.get()), nullptr);
  EXPECT_EQ(memory->texts(name), (Texts{"to memory"}));
}

TEST(LogSink, StreamSinkWritesOneLinePerRecord) {
  std::ostringstream out;
  QVStreamLogSink sink(out);
  sink.write(QVLogRecord{"L", QVLogKind::Notice, "hello", "f.cpp", 3});
  sink.write(QVLogRecord{"L", QVLogKind::TraceExit, "Fn", "", 0});
  EXPECT_EQ(out.str(), "L NOTICE hello [f.cpp:3]\nL EXIT Fn\n");
}

TEST(LogSink, FileSinkAppendsLines) {
  const std::string name = "LoggerTest.FileSink";
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("qvlogger_test_" + std::to_string(::getpid()) + ".log");
  std::filesystem::remove(path);
  struct Cleanup {
    std::filesystem::path path;
    ~Cleanup() {
      QVLogger::SetSink(nullptr);
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  } cleanup{path};
  {
    std::ofstream existing(path);
    existing << "already here\n";
  }
  {
    auto sink = std::make_shared<QVFileLogSink>(path.string());
    ASSERT_TRUE(sink->isOpen());
    QVLogger::SetSink(sink);
    QVObjectPtrT<ILogger> logger = QVLogger::GetLogger(name);
    logger->logErrorText("first", "file.cpp", 1);
    logger->logErrorFormatted("second %_1_ld", 2, "file.cpp", {2});
    QVLogger::SetSink(nullptr);
  }
  {
    QVFileLogSink reopened(path.string());
    reopened.write(QVLogRecord{name, QVLogKind::Notice, "third", "file.cpp", 3});
  }
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (Texts{"already here", "LoggerTest.FileSink ERROR first [file.cpp:1]",
                          "LoggerTest.FileSink ERROR second 2 [file.cpp:2]",
                          "LoggerTest.FileSink NOTICE third [file.cpp:3]"}));

  // A sink that cannot open its file drops records quietly.
  QVFileLogSink broken((path / "no" / "such" / "dir.log").string());
  EXPECT_FALSE(broken.isOpen());
  broken.write(QVLogRecord{name, QVLogKind::Error, "lost", "", 0});
}

TEST(LogSink, MemorySinkQueries) {
  QVMemoryLogSink sink;
  sink.write(QVLogRecord{"A", QVLogKind::Error, "same", "a.cpp", 1});
  sink.write(QVLogRecord{"B", QVLogKind::Error, "same", "b.cpp", 2});
  sink.write(QVLogRecord{"A", QVLogKind::Notice, "note", "a.cpp", 3});
  sink.write(QVLogRecord{"A", QVLogKind::Error, "other", "a.cpp", 4});

  EXPECT_EQ(sink.texts("A"), (Texts{"same", "note", "other"}));
  EXPECT_EQ(sink.texts("A", QVLogKind::Error), (Texts{"same", "other"}));
  EXPECT_EQ(sink.texts("B", QVLogKind::Notice), Texts{});
  EXPECT_EQ(sink.texts("C"), Texts{});
  EXPECT_TRUE(sink.contains("note"));
  EXPECT_FALSE(sink.contains("not"));  // whole text only
  EXPECT_EQ(sink.count("same"), 2u);
  EXPECT_EQ(sink.count("missing"), 0u);
  ASSERT_EQ(sink.records().size(), 4u);
  EXPECT_EQ(sink.records()[1].file, "b.cpp");

  sink.clear();
  EXPECT_TRUE(sink.records().empty());
  EXPECT_FALSE(sink.contains("same"));
  sink.write(QVLogRecord{"A", QVLogKind::Notice, "after clear", "", 0});
  EXPECT_EQ(sink.texts("A"), (Texts{"after clear"}));
}

TEST(LogSink, ConcurrentLoggingKeepsEveryRecord) {
  const std::string name = "LoggerTest.Concurrent";
  constexpr int kThreads = 8;
  constexpr int kPerThread = 400;
  MemorySinkScope sink;
  EnabledScope enabled(name);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      QVObjectPtrT<ILogger> logger = QVLogger::GetLogger(name);
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();  // start together
      for (int i = 0; i < kPerThread; ++i) {
        if (i % 2 == 0) {
          logger->logFormatted("c.cpp", i, "t%_1_ld i%_2_ld", {t, i});
        } else {
          logger->logErrorText("t" + std::to_string(t) + " i" + std::to_string(i), "c.cpp", i);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();

  const std::vector<QVLogRecord> records = sink->records();
  EXPECT_EQ(records.size(), static_cast<std::size_t>(kThreads * kPerThread));
  EXPECT_EQ(sink->texts(name, QVLogKind::Formatted).size(), static_cast<std::size_t>(kThreads * kPerThread / 2));
  // Each thread's records arrive whole and in its own order.
  std::vector<int> next(kThreads, 0);
  for (const QVLogRecord& record : records) {
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(record.text.c_str(), "t%d i%d", &t, &i), 2) << record.text;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]);
    EXPECT_EQ(record.line, i);
    next[t] = i + 1;
  }
  EXPECT_EQ(sink->count("t3 i17"), 1u);
  EXPECT_EQ(QVLogger::HandleCount(name), 0);
}

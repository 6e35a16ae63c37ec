#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace callset_converter {

// Levels of the process-wide logger; a record passes when its level is at
// least the threshold (NOTSET lets everything through).
enum class LogLevel { NOTSET = 0, DEBUG = 10, INFO = 20, WARNING = 30, ERROR = 40, CRITICAL = 50 };

// "DEBUG", "INFO", "WARNING", "ERROR", "CRITICAL" (or "NOTSET").
const char* level_name(LogLevel level);

// One argument of a log template, rendered by its placeholder: %s as text
// (an absent value as None), %d as a decimal integer, %r as the quoted
// literal. A line feed or carriage return inside a value is written as \n
// or \r, so a value from an input file cannot start a line that reads like
// another record; only the line breaks of the template itself, and those
// between the items of a lines() argument, stay real.
class LogArg {
 public:
  // Items shown one per line: each item escaped as any value, joined by
  // real line breaks.
  static LogArg lines(std::vector<std::string> items);

  LogArg(std::string_view text);                   // NOLINT(google-explicit-constructor)
  LogArg(const char* text);                        // NOLINT(google-explicit-constructor)
  LogArg(std::string text);                        // NOLINT(google-explicit-constructor)
  LogArg(const std::optional<std::string>& text);  // NOLINT(google-explicit-constructor)
  LogArg(std::vector<std::string> items);          // NOLINT(google-explicit-constructor)
  template <typename Int, std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, bool>, int> = 0>
  LogArg(Int number) : kind_(Kind::Number), number_(static_cast<long long>(number)) {}  // NOLINT

  std::string as_text() const;
  std::string as_literal() const;
  std::string as_decimal() const;
  // Appends what `placeholder` (s, d or r) renders.
  void append_to(std::string& out, char placeholder) const;

 private:
  enum class Kind { Text, None, Number, List, Lines };
  // The text (or, with `quoted`, the quoted literal) of the argument; a
  // list is always written as the literals of its items.
  std::string render(bool quoted) const;
  Kind kind_;
  std::string text_;
  long long number_ = 0;
  std::vector<std::string> items_;
};

// Fills a printf-style template: %s, %d and %r take the next argument, %%
// is a percent sign. A placeholder without an argument is left as written.
std::string fill_template(std::string_view format, const std::vector<LogArg>& args);

struct LogRecord {
  LogLevel level;
  std::string message;
};

using LogHandler = std::function<void(const LogRecord&)>;

// The one logger of the process. The library only writes records; the host
// decides where they go by setting a handler and a threshold. Without a
// handler, records of WARNING and above are written to standard error as
// their bare message, so that nothing a run warns about is lost silently.
class Logger {
 public:
  static Logger& instance();

  void set_level(LogLevel level);
  LogLevel level() const;
  bool enabled(LogLevel level) const;
  // An empty handler restores the default.
  void set_handler(LogHandler handler);
  const LogHandler& handler() const;

  template <typename... Args>
  void log(LogLevel level, std::string_view format, const Args&... args) {
    if (!enabled(level)) return;
    emit(LogRecord{level, fill_template(format, std::vector<LogArg>{LogArg(args)...})});
  }

  void emit(const LogRecord& record);

 private:
  Logger() = default;
  LogLevel level_ = LogLevel::WARNING;
  LogHandler handler_;
};

template <typename... Args>
void log_debug(std::string_view format, const Args&... args) {
  Logger::instance().log(LogLevel::DEBUG, format, args...);
}
template <typename... Args>
void log_info(std::string_view format, const Args&... args) {
  Logger::instance().log(LogLevel::INFO, format, args...);
}
template <typename... Args>
void log_warning(std::string_view format, const Args&... args) {
  Logger::instance().log(LogLevel::WARNING, format, args...);
}

}  // namespace callset_converter

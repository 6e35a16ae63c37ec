#include "CallsetConverter/Support/Log.h"

#include <cstdio>
#include <utility>

#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

const char* level_name(LogLevel level) {
  switch (level) {
    case LogLevel::DEBUG:
      return "DEBUG";
    case LogLevel::INFO:
      return "INFO";
    case LogLevel::WARNING:
      return "WARNING";
    case LogLevel::ERROR:
      return "ERROR";
    case LogLevel::CRITICAL:
      return "CRITICAL";
    case LogLevel::NOTSET:
      break;
  }
  return "NOTSET";
}

LogArg::LogArg(std::string_view text) : kind_(Kind::Text), text_(text) {}
LogArg::LogArg(const char* text) : kind_(Kind::Text), text_(text) {}
LogArg::LogArg(std::string text) : kind_(Kind::Text), text_(std::move(text)) {}
LogArg::LogArg(const std::optional<std::string>& text)
    : kind_(text ? Kind::Text : Kind::None), text_(text.value_or(std::string())) {}
LogArg::LogArg(std::vector<std::string> items) : kind_(Kind::List), items_(std::move(items)) {}

LogArg LogArg::lines(std::vector<std::string> items) {
  LogArg arg(std::move(items));
  arg.kind_ = Kind::Lines;
  return arg;
}

std::string LogArg::as_text() const { return render(/*quoted=*/false); }

std::string LogArg::as_literal() const { return render(/*quoted=*/true); }

std::string LogArg::render(bool quoted) const {
  switch (kind_) {
    case Kind::Text:
      return quoted ? quoted_literal(text_) : escape_line_breaks(text_);
    case Kind::None:
      return "None";
    case Kind::Number:
      return std::to_string(number_);
    case Kind::List:
      return quoted_literal(items_);
    case Kind::Lines: {
      std::vector<std::string> shown;
      shown.reserve(items_.size());
      for (const auto& item : items_) shown.push_back(quoted ? quoted_literal(item) : escape_line_breaks(item));
      return join(shown, "\n");
    }
  }
  return {};
}

void LogArg::append_to(std::string& out, char placeholder) const {
  // Most arguments are plain text: written without a copy of their own.
  if (kind_ == Kind::Text && placeholder != 'r' && text_.find_first_of("\n\r") == std::string::npos) {
    out += text_;
    return;
  }
  out += placeholder == 's' ? as_text() : placeholder == 'd' ? as_decimal() : as_literal();
}

std::string LogArg::as_decimal() const {
  if (kind_ == Kind::Number) return std::to_string(number_);
  return as_text();
}

std::string fill_template(std::string_view format, const std::vector<LogArg>& args) {
  std::string out;
  out.reserve(format.size() + 32);
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    const char kind = format[i + 1];
    if (kind == '%') {
      out += '%';
      ++i;
    } else if ((kind == 's' || kind == 'd' || kind == 'r') && next < args.size()) {
      const LogArg& arg = args[next++];
      arg.append_to(out, kind);
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

Logger& Logger::instance() {
  static Logger logger;
  return logger;
}

void Logger::set_level(LogLevel level) { level_ = level; }
LogLevel Logger::level() const { return level_; }
bool Logger::enabled(LogLevel level) const { return static_cast<int>(level) >= static_cast<int>(level_); }
void Logger::set_handler(LogHandler handler) { handler_ = std::move(handler); }
const LogHandler& Logger::handler() const { return handler_; }

void Logger::emit(const LogRecord& record) {
  if (handler_) {
    handler_(record);
    return;
  }
  if (static_cast<int>(record.level) >= static_cast<int>(LogLevel::WARNING)) {
    std::fwrite(record.message.data(), 1, record.message.size(), stderr);
    std::fputc('\n', stderr);
  }
}

}  // namespace callset_converter

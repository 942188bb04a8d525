#pragma once
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace kestrum {

// A recorded DiskFile error as it reaches a caller that asked for errors to be raised.
// Number and Description are the ones stored in LastErrorNumber/LastErrorText; Source is
// "DiskFile." + the operation that recorded it.
class DiskFileError : public std::runtime_error {
 public:
  DiskFileError(int number, std::string description, std::string source);
  int Number() const { return number_; }
  const std::string& Description() const { return description_; }
  const std::string& Source() const { return source_; }

 private:
  int number_;
  std::string description_;
  std::string source_;
};

// The values a variable-list line holds. VarEmpty is a never-assigned value (written as "");
// VarOther stands for the kinds that are written as an empty field (null, currency, object,
// error, array). A VarDate is written in the general date format.
struct VarEmpty {};
struct VarOther {};
struct VarDate {
  std::time_t when = 0;
};
using Var = std::variant<VarEmpty, std::string, std::uint8_t, bool, VarDate, std::int16_t,
                         std::int32_t, float, double, VarOther>;

// Local date and time as "yyyy-mm-dd hh:mm:ss", the general date format of the trace log.
std::string GeneralDate(std::time_t when);

// The number at the start of text, after leading blanks: optional sign, digits, optional
// fraction and exponent. 0 when the text starts with no number.
double LeadingNumber(const std::string& text);

// The next token of text from the 1-based position, which is advanced past the delimiter
// that ended it; foundDelimiter receives that delimiter ("" when the text ended first). Any
// single character of delimiters ends a token; with honourQuotes a section opened by " or '
// runs to the same character and its delimiters do not count (the quotes stay in the
// token). An empty text, a position past the end or 0 gives "" and sets position to 0; an
// empty delimiter list gives the rest of the text and position 0. So "a,,b" yields "a", "",
// "b", then "" with position 0.
std::string NextToken(const std::string& text, long& position, const std::string& delimiters,
                      std::string& foundDelimiter, bool honourQuotes = false);

// A text file that one object opens under explicit existence rules and writes line by line,
// optionally prefixed with thread id and time, with header lines at the top of every file it
// opens and a size policy checked after every line. Every failing operation records an error
// number and text (LastErrorNumber/LastErrorText) and, when RaiseErrors is set, throws it as
// a DiskFileError; otherwise it returns false, 0 or "". One object belongs to one thread.
// Paths are byte strings and never decoded.
class DiskFile {
 public:
  enum Access : int { kForReading = 1, kForWriting = 2, kForAppending = 8 };
  enum Domain : int { kMustExist = 0, kMustNotExist = 1, kEither = 2 };
  enum AutoExt : int { kNoExtension = 0, kDateStamp = 1, kSequence = 2 };
  using Clock = std::function<std::time_t()>;
  using ThreadIdSource = std::function<long()>;

  // exePath is the executable that AutoPath completes names against; empty means the
  // running program (/proc/self/exe).
  explicit DiskFile(std::string exePath = {});
  ~DiskFile();
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  // Time and thread id used for prefixes, markers and date-stamped names.
  void SetClock(Clock clock) { clock_ = std::move(clock); }
  void SetThreadIdSource(ThreadIdSource source) { threadId_ = std::move(source); }

  void AddHeaderLine(const std::string& line);
  // A name starting with "." becomes <application folder>/<executable name without its
  // extension><name>; a name starting with "\" becomes <application folder>/<name without
  // the "\">; any other name (an absolute "/..." path included) is returned unchanged.
  std::string AutoPath(const std::string& fileName) const;
  void ClearError();
  void ClearHeader();

  std::string ObjectType() const { return "Disk File"; }
  int LastErrorNumber() const { return lastErrorNumber_; }
  const std::string& LastErrorText() const { return lastErrorText_; }
  int FileOverFlow() const { return fileOverFlow_; }
  void SetFileOverFlow(int v) { fileOverFlow_ = v; }
  int OverFlowSize() const { return overFlowSize_; }
  void SetOverFlowSize(int v) { overFlowSize_ = v; }
  void SetOverFlowMarker(bool v) { overFlowMarker_ = v; }
  bool MakeBackup() const { return makeBackup_; }
  void SetMakeBackup(bool v) { makeBackup_ = v; }
  bool DontTrace() const { return dontTrace_; }
  void SetDontTrace(bool v) { dontTrace_ = v; }
  bool PrefixThreadID() const { return prefixThreadId_; }
  void SetPrefixThreadID(bool v) { prefixThreadId_ = v; }
  bool PrefixQuoted() const { return prefixQuoted_; }
  void SetPrefixQuoted(bool v) { prefixQuoted_ = v; }
  bool PrefixDate() const { return prefixDate_; }
  void SetPrefixDate(bool v) { prefixDate_ = v; }
  const std::string& PrefixSeparator() const { return prefixSeparator_; }
  void SetPrefixSeparator(std::string v) { prefixSeparator_ = std::move(v); }
  bool RaiseErrors() const { return raiseErrors_; }
  void SetRaiseErrors(bool v) { raiseErrors_ = v; }
  // The extension mode continuation files get when the file was opened without one;
  // 0 means the date stamp.
  void SetContinueExtension(int v) { continueExtension_ = v; }

  // Current 1-based line of the open file, 0 when closed.
  long LineNumber() const;
  // True at the end of a file open for reading; false when closed. (Named Eof because
  // EOF is a macro of the C library.)
  bool Eof() const;
  // Absolute path of the open file, "" when closed.
  std::string FullName() const { return isOpen_ ? fullName_ : std::string(); }
  bool IsOpen() const { return isOpen_; }

  // Whether the completed name is an existing file (a folder is not). Never records errors.
  bool FileExists(const std::string& fileName);
  bool OpenFile(const std::string& fileName, int domain, int access, int fileType = 0,
                int autoExtension = 0);
  // Always true; closing a closed object changes nothing.
  bool CloseFile();
  // Without a name: closes and deletes the open file (52 when none is open). With a name:
  // deletes that file.
  bool PurgeFile(const std::string& fileName = {});
  bool ReadLine(std::string& buffer);
  bool ReadVar(std::vector<Var>& varList);
  bool WriteVar(const std::vector<Var>& varList);
  bool ReadBytes(std::string& buffer, std::int32_t length);
  bool ReadFile(std::string& buffer);
  // Writes prefix + buffer as one line with a single write, then applies the size policy.
  bool WriteLine(const std::string& buffer);
  bool CopyFile(const std::string& source, const std::string& dest, bool overwrite = true);
  bool RenameFile(const std::string& source, const std::string& dest);
  // Size in bytes of the open file, or of the named file; 0 on failure.
  std::int64_t FileSize(const std::optional<std::string>& fileName = std::nullopt);

  // The variable-list line of varList, as WriteVar writes it.
  static std::string VarLine(const std::vector<Var>& varList);

 private:
  [[noreturn]] void Raise(int number, const std::string& description, const char* proc) const;
  void HandleError(const std::string& proc, int number, const std::string& description);
  template <typename F>
  auto Trapped(const char* proc, F&& body) -> decltype(body());
  std::string LinePrefix() const;
  bool TraceEnabled() const;
  void WriteHeader();
  std::string AutoExtend(const std::string& fileName);
  bool HandleFileOverFlow();
  bool BackUpFile(const std::string& fileName);
  std::string OpenFileBody(const std::string& fileName, int domain, int access, int fileType,
                           int autoExtension);
  void WriteRaw(const std::string& text);
  void CloseStream();
  bool FillBuffer();
  std::string NameOnly() const;
  std::time_t Now() const;

  std::string exePath_;
  Clock clock_;
  ThreadIdSource threadId_;
  int fileOverFlow_ = 0;
  int overFlowSize_ = 0;
  bool isOpen_ = false;
  int fileType_ = 0;
  int access_ = 0;
  int autoExtension_ = 0;
  int domain_ = 0;
  int continueExtension_ = 0;
  bool raiseErrors_ = true;
  int lastErrorNumber_ = 0;
  std::string lastErrorText_;
  std::string fileName_;
  bool prefixDate_ = false;
  bool prefixThreadId_ = false;
  bool prefixQuoted_ = false;
  std::string prefixSeparator_;
  bool overFlowMarker_ = false;
  bool makeBackup_ = false;
  bool dontTrace_ = false;
  std::optional<std::vector<std::string>> header_;
  bool avoidStampCollision_ = false;

  int fd_ = -1;
  std::string fullName_;
  std::string readBuf_;
  std::size_t readPos_ = 0;
  bool atEnd_ = false;
  long line_ = 0;
};

}  // namespace kestrum

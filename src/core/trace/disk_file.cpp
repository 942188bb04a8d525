#include "core/trace/disk_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/platform/errors.h"
#include "core/platform/numbers.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

constexpr int kNotOpen = 52;
constexpr int kNotFound = 53;
constexpr int kBadArgument = 54;
constexpr int kAlreadyOpen = 55;
constexpr int kExists = 58;
constexpr int kEndOfFile = 62;

std::string ExeFolderOf(const std::string& exe) {
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentFolder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Name without its last extension, and the extension; a name without a dot has none.
std::pair<std::string, std::string> SplitExtension(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos) return {name, {}};
  return {name.substr(0, dot), name.substr(dot + 1)};
}

std::string JoinFolder(const std::string& folder, const std::string& rest) {
  return (!folder.empty() && folder.back() == '/') ? folder + rest : folder + "/" + rest;
}

std::string RunningExe() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0) return {};
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

// A platform failure, recorded with the system's own number and its bare text: whoever shows
// the error adds the number once.
[[noreturn]] void RaiseErrno(int err, const char* source) {
  throw DiskFileError(err, SystemText(err), source);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

DiskFileError::DiskFileError(int number, std::string description, std::string source)
    : std::runtime_error(source + ": (" + std::to_string(number) + ") " + description),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

std::string GeneralDate(std::time_t when) {
  std::tm tm{};
  ::localtime_r(&when, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

double LeadingNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::string num;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) num += text[i++];
  bool digits = false;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    num += text[i++];
    digits = true;
  }
  if (i < text.size() && text[i] == '.') {
    num += text[i++];
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      num += text[i++];
      digits = true;
    }
  }
  if (!digits) return 0;
  if (i + 1 < text.size() &&
      (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    std::size_t j = i + 1;
    std::string exp = "e";
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exp += text[j++];
    bool expDigits = false;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
      exp += text[j++];
      expDigits = true;
    }
    if (expDigits) num += exp;
  }
  return std::strtod(num.c_str(), nullptr);
}

std::string NextToken(const std::string& text, long& position, const std::string& delimiters,
                      std::string& foundDelimiter, bool honourQuotes) {
  foundDelimiter.clear();
  const long len = static_cast<long>(text.size());
  if (text.empty() || position < 1 || position > len) {
    position = 0;
    return {};
  }
  if (delimiters.empty()) {
    std::string rest = text.substr(static_cast<std::size_t>(position - 1));
    position = 0;
    return rest;
  }
  const long start = position;
  char closer = 0;
  for (;; ++position) {
    if (position > len) return text.substr(static_cast<std::size_t>(start - 1));
    const char c = text[static_cast<std::size_t>(position - 1)];
    if (closer) {
      if (c == closer) closer = 0;
      continue;
    }
    if (honourQuotes && (c == '"' || c == '\'')) {
      closer = c;
      continue;
    }
    if (delimiters.find(c) != std::string::npos) {
      foundDelimiter = std::string(1, c);
      std::string token = text.substr(static_cast<std::size_t>(start - 1),
                                      static_cast<std::size_t>(position - start));
      ++position;
      return token;
    }
  }
}

DiskFile::DiskFile(std::string exePath) : exePath_(std::move(exePath)) {}

DiskFile::~DiskFile() { CloseStream(); }

void DiskFile::AddHeaderLine(const std::string& line) {
  if (!header_) header_.emplace();
  header_->push_back(line);
}

void DiskFile::ClearHeader() { header_.reset(); }

void DiskFile::ClearError() {
  lastErrorNumber_ = 0;
  lastErrorText_.clear();
}

std::string DiskFile::AutoPath(const std::string& fileName) const {
  if (fileName.empty() || (fileName[0] != '.' && fileName[0] != '\\')) return fileName;
  const std::string exe = exePath_.empty() ? RunningExe() : exePath_;
  const std::string folder = ExeFolderOf(exe);
  if (fileName[0] == '\\') return JoinFolder(folder, fileName.substr(1));
  const std::string base = SplitExtension(LastComponent(exe)).first;
  return JoinFolder(folder, base + fileName);
}

bool DiskFile::TraceEnabled() const { return TraceOn && !dontTrace_; }

std::time_t DiskFile::Now() const { return clock_ ? clock_() : std::time(nullptr); }

std::string DiskFile::NameOnly() const { return LastComponent(fullName_); }

void DiskFile::Raise(int number, const std::string& description, const char* proc) const {
  throw DiskFileError(number, description, std::string("DiskFile.") + proc);
}

void DiskFile::HandleError(const std::string& proc, int number, const std::string& description) {
  if (TraceEnabled())
    Trace("DiskFile." + proc + " RTE=" + std::to_string(number) + "," + description);
  lastErrorNumber_ = number;
  lastErrorText_ = description;
  if (raiseErrors_) throw DiskFileError(number, description, "DiskFile." + proc);
}

// Runs body under the operation's error trap: a failure is recorded under proc (and raised
// again when RaiseErrors is set), and the operation yields its default result.
template <typename F>
auto DiskFile::Trapped(const char* proc, F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const DiskFileError& e) {
    HandleError(proc, e.Number(), e.Description());
  } catch (const std::bad_alloc&) {
    HandleError(proc, 7, "Out of memory");
  }
  return decltype(body()){};
}

long DiskFile::LineNumber() const { return isOpen_ ? line_ : 0; }

bool DiskFile::Eof() const {
  if (!isOpen_) return false;
  try {
    // Looking ahead only fills the read buffer; the object's observable state stays.
    return !const_cast<DiskFile*>(this)->FillBuffer();
  } catch (const DiskFileError&) {
    return true;
  }
}

bool DiskFile::FileExists(const std::string& fileName) {
  const std::string name = AutoPath(fileName);
  const bool exists = IsFile(name);
  if (TraceEnabled())
    Trace("DiskFile.FileExists(" + name + "=" + (exists ? "True" : "False") + ")");
  return exists;
}

bool DiskFile::OpenFile(const std::string& fileName, int domain, int access, int fileType,
                        int autoExtension) {
  if (TraceEnabled()) Trace("DiskFile.OpenFile(" + fileName + ")");
  ClearError();
  return Trapped("OpenFile", [&] {
    OpenFileBody(fileName, domain, access, fileType, autoExtension);
    return true;
  });
}

std::string DiskFile::OpenFileBody(const std::string& fileName, int domain, int access,
                                   int fileType, int autoExtension) {
  if (isOpen_) Raise(kAlreadyOpen, "File is already open", "OpenFile");
  if (domain != 0 && domain != 1 && domain != 2)
    Raise(kBadArgument, "File Domain is incorrect", "OpenFile");
  domain_ = domain;
  if (access != kForReading && access != kForWriting && access != kForAppending)
    Raise(kBadArgument, "File Access is incorrect", "OpenFile");
  access_ = access;
  if (fileType != 0) Raise(kBadArgument, "File Type is incorrect", "OpenFile");
  fileType_ = fileType;
  if (autoExtension != 0 && autoExtension != 1 && autoExtension != 2)
    Raise(kBadArgument, "File Auto Extension is incorrect", "OpenFile");
  autoExtension_ = autoExtension;
  if (access == kForReading && domain == kEither)
    Raise(kBadArgument, "File Access and Domain conflict", "OpenFile");

  bool create = domain != kMustExist;
  fileName_ = fileName;
  std::string name = AutoPath(fileName);
  if (autoExtension != 0) name = AutoExtend(name);

  const bool exists = IsFile(name);
  if (exists && domain == kMustNotExist) Raise(kExists, "File already exists", "OpenFile");
  if (!exists && domain == kMustExist) Raise(kNotFound, "File not found", "OpenFile");
  if (exists && domain == kMustExist && access != kForReading && makeBackup_) {
    BackUpFile(name);
    // The backup moved the file away; the open that follows starts it afresh, empty.
    create = true;
  }

  int flags = O_CLOEXEC;
  if (access == kForReading) flags |= O_RDONLY;
  if (access == kForWriting) flags |= O_WRONLY | O_TRUNC;
  if (access == kForAppending) flags |= O_WRONLY | O_APPEND;
  if (create) flags |= O_CREAT;
  const int fd = ::open(name.c_str(), flags, 0644);
  if (fd < 0) RaiseErrno(errno, "DiskFile.OpenFile");
  fd_ = fd;
  fullName_ = name[0] == '/' ? name : [&] {
    std::string cwd(4096, '\0');
    if (!::getcwd(cwd.data(), cwd.size())) return name;
    cwd.resize(std::strlen(cwd.c_str()));
    return JoinFolder(cwd, name);
  }();
  readBuf_.clear();
  readPos_ = 0;
  atEnd_ = false;
  line_ = 1;
  // The object counts as open while the header goes in, so that a failing header write
  // closes the descriptor again below.
  isOpen_ = true;
  try {
    if (header_ && !header_->empty()) WriteHeader();
  } catch (...) {
    CloseStream();
    throw;
  }
  return name;
}

void DiskFile::CloseStream() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  isOpen_ = false;
}

bool DiskFile::CloseFile() {
  if (TraceEnabled()) Trace("DiskFile.CloseFile(" + NameOnly() + ")");
  ClearError();
  CloseStream();
  return true;
}

void DiskFile::WriteRaw(const std::string& text) {
  if (!isOpen_) Raise(kNotOpen, "File is not open", "WriteLine");
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseErrno(errno, "DiskFile.WriteLine");
    }
    done += static_cast<std::size_t>(n);
  }
  for (char c : text)
    if (c == '\n') ++line_;
}

void DiskFile::WriteHeader() {
  if (TraceEnabled()) Trace("DiskFile(" + NameOnly() + ").WriteHeader");
  std::string block;
  for (const std::string& line : *header_) block += line + "\n";
  WriteRaw(block);
}

std::string DiskFile::LinePrefix() const {
  if (!prefixDate_ && !prefixThreadId_) return {};
  std::string p;
  if (prefixQuoted_) p += '"';
  if (prefixThreadId_) {
    const long id = threadId_ ? threadId_() : static_cast<long>(::gettid());
    p += "(" + std::to_string(id) + ")";
  }
  if (prefixDate_) p += GeneralDate(Now());
  if (prefixQuoted_) p += '"';
  p += prefixSeparator_;
  return p;
}

bool DiskFile::WriteLine(const std::string& buffer) {
  if (TraceEnabled()) Trace("DiskFile(" + NameOnly() + ").WriteLine");
  return Trapped("WriteLine ", [&] {
    WriteRaw(LinePrefix() + buffer + "\n");
    if (fileOverFlow_ != 0) HandleFileOverFlow();
    return true;
  });
}

std::int64_t DiskFile::FileSize(const std::optional<std::string>& fileName) {
  return Trapped("FileSize", [&]() -> std::int64_t {
    struct stat st {};
    std::string name;
    if (fileName) {
      name = AutoPath(*fileName);
      if (::stat(name.c_str(), &st) != 0) RaiseErrno(errno, "DiskFile.FileSize");
    } else {
      if (!isOpen_) Raise(kNotOpen, "File is not open", "FileSize");
      name = NameOnly();
      if (::fstat(fd_, &st) != 0) RaiseErrno(errno, "DiskFile.FileSize");
    }
    const std::int64_t size = st.st_size;
    if (TraceEnabled()) Trace("DiskFile(" + name + ").FileSize=" + std::to_string(size));
    return size;
  });
}

bool DiskFile::HandleFileOverFlow() {
  if (TraceEnabled()) Trace("DiskFile(" + NameOnly() + ").HandleFileOverFlow");
  return Trapped("HandleOverFlow", [&] {
    if (FileSize() <= static_cast<std::int64_t>(overFlowSize_)) return true;
    if (fileOverFlow_ == 2) {
      int ext = autoExtension_ ? autoExtension_ : (continueExtension_ ? continueExtension_ : 1);
      const std::string oldPath = fullName_;
      CloseFile();
      avoidStampCollision_ = true;
      const bool opened = OpenFile(fileName_, domain_, access_, fileType_, ext);
      avoidStampCollision_ = false;
      if (opened && overFlowMarker_)
        WriteRaw("<<Continuation of " + oldPath + " at " + GeneralDate(Now()) + ">>\n\n");
      else if (!opened && overFlowMarker_)
        Raise(kNotOpen, "File is not open", "HandleOverFlow");
    } else if (fileOverFlow_ == 1) {
      const std::string path = fullName_;
      const int ext = autoExtension_;
      CloseFile();
      const bool opened = OpenFile(path, kMustExist, kForWriting, fileType_, 0);
      if (overFlowMarker_) {
        if (!opened) Raise(kNotOpen, "File is not open", "HandleOverFlow");
        WriteRaw("<<File restarted at " + GeneralDate(Now()) + ">>\n\n");
      }
      autoExtension_ = ext;
    }
    return true;
  });
}

std::string DiskFile::AutoExtend(const std::string& fileName) {
  if (TraceEnabled()) Trace("DiskFile.AutoExtend");
  return Trapped("AutoExtend", [&]() -> std::string {
    if (autoExtension_ == kDateStamp) {
      std::tm tm{};
      const std::time_t now = Now();
      ::localtime_r(&now, &tm);
      char buf[32];
      std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
      std::string stamped = fileName + "." + buf;
      // A second continuation within the same second must not reopen (and so empty) the
      // first one's file: it gets the next sequence number of the stamped name instead.
      if (avoidStampCollision_ && IsFile(stamped)) {
        const int saved = autoExtension_;
        autoExtension_ = kSequence;
        stamped = AutoExtend(stamped);
        autoExtension_ = saved;
      }
      return stamped;
    }
    if (autoExtension_ != kSequence) return {};
    const std::string folder = ParentFolder(fileName);
    const std::string want = LastComponent(fileName);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) RaiseErrno(errno, "DiskFile.AutoExtend");
    double highest = 0;
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      const auto [base, ext] = SplitExtension(name);
      if (base != want || !IsFile(JoinFolder(folder, name))) continue;
      highest = std::max(highest, LeadingNumber(ext));
    }
    ::closedir(dir);
    const double next = std::floor(highest) + 1;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%03.0f", next);
    return fileName + "." + buf;
  });
}

bool DiskFile::BackUpFile(const std::string& fileName) {
  if (TraceEnabled()) Trace("DiskFile.BackUpFile(" + fileName + ")");
  return Trapped("BackUpFile", [&] {
    const int saved = autoExtension_;
    autoExtension_ = kSequence;
    const std::string target = AutoExtend(fileName);
    autoExtension_ = saved;
    if (::rename(fileName.c_str(), target.c_str()) != 0) RaiseErrno(errno, "DiskFile.BackUpFile");
    return true;
  });
}

bool DiskFile::FillBuffer() {
  if (readPos_ < readBuf_.size()) return true;
  if (atEnd_ || fd_ < 0) return false;
  readBuf_.erase(0, readPos_);
  readPos_ = 0;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseErrno(errno, "DiskFile.Read");
    if (n == 0) {
      atEnd_ = true;
      return false;
    }
    readBuf_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }
}

bool DiskFile::ReadLine(std::string& buffer) {
  ClearError();
  return Trapped("ReadLine", [&] {
    if (!isOpen_) Raise(kNotOpen, "File is not open", "ReadLine");
    if (!FillBuffer()) Raise(kEndOfFile, "End of file", "ReadLine");
    std::string line;
    for (;;) {
      const auto nl = readBuf_.find('\n', readPos_);
      if (nl != std::string::npos) {
        line += readBuf_.substr(readPos_, nl - readPos_);
        readPos_ = nl + 1;
        break;
      }
      line += readBuf_.substr(readPos_);
      readPos_ = readBuf_.size();
      if (!FillBuffer()) break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++line_;
    buffer = std::move(line);
    return true;
  });
}

bool DiskFile::ReadBytes(std::string& buffer, std::int32_t length) {
  if (TraceEnabled())
    Trace("DiskFile(" + NameOnly() + ").ReadBytes(" + std::to_string(length) + ")");
  ClearError();
  return Trapped("ReadBytes", [&] {
    if (!isOpen_) Raise(kNotOpen, "File is not open", "ReadBytes");
    if (!FillBuffer()) Raise(kEndOfFile, "End of file", "ReadBytes");
    if (length < 0) Raise(5, "Invalid procedure call or argument", "ReadBytes");
    std::string out;
    const auto want = static_cast<std::size_t>(length);
    while (out.size() < want && FillBuffer()) {
      const std::size_t take = std::min(want - out.size(), readBuf_.size() - readPos_);
      out.append(readBuf_, readPos_, take);
      readPos_ += take;
    }
    for (char c : out)
      if (c == '\n') ++line_;
    buffer = std::move(out);
    return true;
  });
}

bool DiskFile::ReadFile(std::string& buffer) {
  if (TraceEnabled()) Trace("DiskFile(" + NameOnly() + ").ReadFile");
  ClearError();
  return Trapped("ReadFile", [&] {
    if (!isOpen_) Raise(kNotOpen, "File is not open", "ReadFile");
    // Like the stream it stands for, reading the whole rest at the end is an input error.
    if (!FillBuffer()) Raise(kEndOfFile, "Input past end of file", "ReadFile");
    std::string out;
    while (FillBuffer()) {
      out.append(readBuf_, readPos_, std::string::npos);
      readPos_ = readBuf_.size();
    }
    for (char c : out)
      if (c == '\n') ++line_;
    buffer = std::move(out);
    return true;
  });
}

bool DiskFile::ReadVar(std::vector<Var>& varList) {
  ClearError();
  return Trapped("ReadVar", [&] {
    if (!isOpen_) Raise(kNotOpen, "File is not open", "ReadVar");
    if (!FillBuffer()) Raise(kEndOfFile, "End of file", "ReadVar");
    std::string line;
    const bool raise = raiseErrors_;
    raiseErrors_ = true;
    try {
      ReadLine(line);
    } catch (...) {
      raiseErrors_ = raise;
      throw;
    }
    raiseErrors_ = raise;
    long pos = 1;
    std::string found;
    for (std::size_t i = 0; i < varList.size(); ++i) {
      const std::string token = NextToken(line, pos, ",", found, true);
      if (token.empty()) break;
      if (token[0] == '"') {
        varList[i] = token.size() >= 2 ? token.substr(1, token.size() - 2) : std::string();
      } else if (std::holds_alternative<std::string>(varList[i])) {
        varList[i] = token;
      } else {
        varList[i] = LeadingNumber(token);
      }
    }
    return true;
  });
}

std::string DiskFile::VarLine(const std::vector<Var>& varList) {
  std::string line;
  for (std::size_t i = 0; i < varList.size(); ++i) {
    if (i) line += ',';
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, VarEmpty>)
            line += "\"\"";
          else if constexpr (std::is_same_v<T, std::string>)
            line += "\"" + v + "\"";
          else if constexpr (std::is_same_v<T, std::uint8_t>)
            line += "\"" + std::to_string(v) + "\"";
          else if constexpr (std::is_same_v<T, bool>)
            line += v ? "\"True\"" : "\"False\"";
          else if constexpr (std::is_same_v<T, VarDate>)
            line += "\"" + GeneralDate(v.when) + "\"";
          else if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t>)
            line += std::to_string(v);
          else if constexpr (std::is_same_v<T, float>) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(v));
            line += buf;
          } else if constexpr (std::is_same_v<T, double>)
            line += PlainNumber(v);
        },
        varList[i]);
  }
  return line;
}

bool DiskFile::WriteVar(const std::vector<Var>& varList) {
  if (TraceEnabled()) Trace("DiskFile(" + NameOnly() + ").WriteVar");
  ClearError();
  return Trapped("WriteVar", [&] {
    WriteRaw(VarLine(varList) + "\n");
    return true;
  });
}

bool DiskFile::PurgeFile(const std::string& fileName) {
  if (TraceEnabled()) Trace("DiskFile.PurgeFile(" + fileName + ")");
  ClearError();
  return Trapped("PurgeFile", [&] {
    std::string name;
    if (fileName.empty()) {
      if (!isOpen_) Raise(kNotOpen, "File is not open", "PurgeFile");
      name = fullName_;
      CloseStream();
    } else {
      name = AutoPath(fileName);
    }
    if (::unlink(name.c_str()) != 0) RaiseErrno(errno, "DiskFile.PurgeFile");
    return true;
  });
}

bool DiskFile::CopyFile(const std::string& source, const std::string& dest, bool overwrite) {
  if (TraceEnabled()) Trace("DiskFile.CopyFile(" + source + "," + dest + ")");
  ClearError();
  return Trapped("CopyFile", [&] {
    const std::string from = AutoPath(source);
    const std::string to = AutoPath(dest);
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) RaiseErrno(errno, "DiskFile.CopyFile");
    const int out =
        ::open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL), 0644);
    if (out < 0) {
      const int err = errno;
      ::close(in);
      RaiseErrno(err, "DiskFile.CopyFile");
    }
    char chunk[65536];
    int err = 0;
    for (;;) {
      ssize_t n = ::read(in, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n < 0) err = errno;
        break;
      }
      for (ssize_t done = 0; done < n && !err;) {
        const ssize_t w = ::write(out, chunk + done, static_cast<std::size_t>(n - done));
        if (w < 0 && errno != EINTR) err = errno;
        if (w > 0) done += w;
      }
      if (err) break;
    }
    ::close(in);
    if (::close(out) != 0 && !err) err = errno;
    if (err) RaiseErrno(err, "DiskFile.CopyFile");
    return true;
  });
}

bool DiskFile::RenameFile(const std::string& source, const std::string& dest) {
  if (TraceEnabled()) Trace("DiskFile.RenameFile(" + source + "," + dest + ")");
  ClearError();
  return Trapped("RenameFile", [&] {
    const std::string from = AutoPath(source);
    const std::string to = AutoPath(dest);
    // Moving never replaces an existing file, as the platform's move refuses that too.
    if (::access(to.c_str(), F_OK) == 0) RaiseErrno(EEXIST, "DiskFile.RenameFile");
    if (::rename(from.c_str(), to.c_str()) != 0) RaiseErrno(errno, "DiskFile.RenameFile");
    return true;
  });
}

}  // namespace kestrum

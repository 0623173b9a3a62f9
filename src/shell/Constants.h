#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

// English in, the user's language out. The translator itself lives above this layer.
using TTranslate = std::function<std::string(std::string_view)>;

inline constexpr std::string_view kProgramName = "Velmora";
inline constexpr std::string_view kProductWebSite = "https://velmora.example.org/";
inline constexpr std::string_view kContactPage = "https://velmora.example.org/contact.html";

// The one-byte code a record keeps beside its status text; it picks the row's icon and colour.
using TStatusCode = uint8_t;
inline constexpr TStatusCode kStatusCodeConnecting = 0;
inline constexpr TStatusCode kStatusCodeDownloading = 6;
inline constexpr TStatusCode kStatusCodeDone = 8;
inline constexpr TStatusCode kStatusCodeError = 10;
inline constexpr TStatusCode kStatusCodePaused = 12;
inline constexpr TStatusCode kStatusCodeScheduled = 13;
inline constexpr TStatusCode kStatusCodeQueued = 14;

// The English source of every shared word, as record files store statuses.
namespace english {
inline constexpr std::string_view Idle = "Idle";
inline constexpr std::string_view Downloading = "Downloading";
inline constexpr std::string_view Done = "Done";
inline constexpr std::string_view CombiningFiles = "Combining files";
inline constexpr std::string_view Paused = "Paused";
inline constexpr std::string_view Scheduled = "Scheduled";
inline constexpr std::string_view Queued = "Queued";
inline constexpr std::string_view ContactingHost = "Contacting host";
inline constexpr std::string_view GettingFileInfo = "Getting file info";
inline constexpr std::string_view Timeout = "Timeout";
inline constexpr std::string_view FileNotFound = "File not found";
inline constexpr std::string_view ResumeIsNotSupported = "Resume is not supported";
inline constexpr std::string_view FilesizeMismatch = "Filesize mismatch";
inline constexpr std::string_view CouldntConnectToHost = "Couldn't connect to host";
inline constexpr std::string_view LostConnectionToServer = "Lost connection to server";
inline constexpr std::string_view CouldntLogin = "Couldn't login";
inline constexpr std::string_view CertificateNotTrusted = "Certificate not trusted";
inline constexpr std::string_view Unknown = "Unknown";
} // namespace english

// What a status is, in whatever language its text is shown: logic decides from this, and the text
// is made from it for display and for the record file. The first sixteen are the status words.
enum class TStatusState : uint8_t {
  Idle,
  Downloading,
  Done,
  CombiningFiles,
  Paused,
  Scheduled,
  Queued,
  ContactingHost,
  GettingFileInfo,
  Timeout,
  FileNotFound,
  ResumeIsNotSupported,
  FilesizeMismatch,
  CouldntConnectToHost,
  LostConnectionToServer,
  CouldntLogin,
  CertificateNotTrusted,
  OtherError, // a text outside the vocabulary, kept as it is: a server's own phrase, a join's message
};

// The English word of a state as record files store it; empty for OtherError.
std::string_view EnglishStatusWord(TStatusState state);

// The shared vocabulary in the user's language, translated once at start-up and compared exactly.
// It is a plain value handed (as const) to whoever compares statuses, so tests can build their
// own in any language; a default-built one holds the English words.
struct TConstants {
  TConstants();
  explicit TConstants(const TTranslate &translate);

  // The English word of a translated status word, or empty for any other text (the joining
  // status with its percentage included).
  std::string StatusToEnglish(std::string_view status) const;
  // The code a record gets for its status when it is loaded from its file.
  TStatusCode StatusImageOfStatus(std::string_view status) const;
  // The state of a status text in this vocabulary: a word, the joining's text with its percentage
  // (CombiningFiles), no text (Idle), or any other text (OtherError).
  TStatusState StateOf(std::string_view status) const;
  // The text of a state in this vocabulary; empty for OtherError, whose text is its own.
  const std::string &Word(TStatusState state) const;

  // Status words.
  std::string Idle, Downloading, Done, CombiningFiles, Paused, Scheduled, Queued, ContactingHost,
      GettingFileInfo, Timeout, FileNotFound, ResumeIsNotSupported, FilesizeMismatch, CouldntConnectToHost,
      LostConnectionToServer, CouldntLogin, CertificateNotTrusted;
  // Other shared words: answers, the unknown size, the top nodes of the view tree, the history views.
  std::string Yes, No, Unknown, All, Categories, Status, History, Hours24, Days7, Days30, Today;
  std::string CouldntWrite; // "Couldn't write", before a file name and the system's reason
  // A record locked by another process of ours.
  std::string InUseByAnotherProcess; // "This download is in use by another Velmora process."
  std::string ThankYouGreeting;      // "Thank you for using Velmora!"
  std::string TellAFriendMailLink;   // mailto: link with the translated recommendation
  std::string ContactPageAddress;
};

// Translates and keeps every shared word; run once, right after the translation is loaded.
TConstants InitTranslatedConstants(const TTranslate &translate);

// A colour as 0x00BBGGRR, or 0x80000000 + n for system colour n.
using TColor = uint32_t;
inline constexpr TColor kSystemColor = 0x80000000;

// The six colours of one theme.
struct TThemeColors {
  TColor Background;
  TColor Downloading;
  TColor Paused;
  TColor Done;
  TColor Error;
  TColor Other;

  friend bool operator==(const TThemeColors &, const TThemeColors &) = default;
};

inline constexpr TThemeColors kStandardTheme{kSystemColor + 5, 0xFF0000, 0x008080, 0x008000, 0x0000FF, 0};
inline constexpr TThemeColors kVelmTheme{0xF0FBFF, 0x800000, kSystemColor + 17, 0x008000, 0x000080, 0};
inline constexpr TThemeColors kCustomTheme = kStandardTheme;

// The text colour of a status code in the given theme.
TColor GetStatusColor(TStatusCode statusCode, const TThemeColors &theme = kStandardTheme);

} // namespace velmora

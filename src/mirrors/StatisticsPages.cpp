#include "mirrors/StatisticsPages.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr std::string_view kTitle = "Server Statistics";
constexpr std::string_view kSectionAnchor = "section2";
constexpr std::string_view kTableStart =
    "<table width=\"95%\" border=\"0\" cellspacing=\"0\" cellpadding=\"0\">\n";
constexpr std::string_view kHeaderRowStart = "<tr bgcolor=\"#cccccc\">";
constexpr std::string_view kFontStart = "<font size=\"2\" color=\"#000000\" face=\"verdana,arial\">";

enum class CellStyle { Font, Plain };

std::string pingText(int32_t averagePing) { return averagePing == 0 ? "N/A" : std::to_string(averagePing); }

std::string headerCell(std::string_view text) { return "<td><b>" + EscapeHtml(text) + "</b></td>"; }

std::string linkHeaderCell(std::string_view target, std::string_view text) {
  return "<td><b><a href=\"" + EscapeHtml(target) + "\">" + EscapeHtml(text) + "</a></b></td>";
}

std::string dataCell(std::string_view text, CellStyle style) {
  if (style == CellStyle::Plain)
    return "<td>" + EscapeHtml(text) + "</td>";
  return "<td>" + std::string(kFontStart) + EscapeHtml(text) + "</font></td>";
}

// Rows of odd index are shaded, so long tables stay readable.
std::string dataRows(const std::vector<TServer> &records, std::string_view namePrefix, CellStyle style,
                     std::string_view decimalPoint) {
  std::string rows;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const TServer &record = records[i];
    rows += i % 2 == 1 ? "<tr bgcolor=\"#eeeeee\">" : "<tr>";
    rows += dataCell(std::string(namePrefix) + record.Name, style);
    rows += dataCell(pingText(record.AveragePing), style);
    rows += dataCell(KilobytesPerSecondText(record.AverageSpeed, decimalPoint), style);
    rows += "</tr>\n";
  }
  return rows;
}

std::string pageStart() {
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + std::string(kTitle) +
         "</title>\n</head>\n<body>\n";
}

std::string pageEnd() { return "</body>\n</html>\n"; }

std::string anchor() { return "<a id=\"" + std::string(kSectionAnchor) + "\"></a>\n"; }

void sortByAscendingPing(std::vector<TServer> &records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const TServer &a, const TServer &b) { return a.AveragePing < b.AveragePing; });
}

void sortByDescendingSpeed(std::vector<TServer> &records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const TServer &a, const TServer &b) { return a.AverageSpeed > b.AverageSpeed; });
}

} // namespace

std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '&':
      escaped += "&amp;";
      break;
    case '<':
      escaped += "&lt;";
      break;
    case '>':
      escaped += "&gt;";
      break;
    case '"':
      escaped += "&quot;";
      break;
    case '\'':
      escaped += "&#39;";
      break;
    default:
      escaped += c;
    }
  }
  return escaped;
}

std::string KilobytesPerSecondText(int64_t bytesPerSecond, std::string_view decimalPoint) {
  if (bytesPerSecond == 0)
    return "N/A";
  const int64_t tenths = bytesPerSecond / 100;
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0)
    text += std::string(decimalPoint) + std::to_string(tenths % 10);
  return text;
}

std::string PingStatisticsPage(std::vector<TServer> servers, std::vector<TServer> topDomains,
                               std::string_view speedPageLink, std::string_view decimalPoint) {
  sortByAscendingPing(servers);
  sortByAscendingPing(topDomains);
  const std::string speedSection = std::string(speedPageLink) + "#" + std::string(kSectionAnchor);
  std::string page = pageStart();
  page += kTableStart;
  page += std::string(kHeaderRowStart) + headerCell("Server") + headerCell("Average Ping [ms]") +
          linkHeaderCell(speedPageLink, "Average Download Speed per Connection [kB/s]") + "</tr>\n";
  page += dataRows(servers, "", CellStyle::Font, decimalPoint);
  page += "</table>\n<br>\n";
  page += anchor();
  page += kTableStart;
  page += std::string(kHeaderRowStart) + headerCell("Top Domain") + headerCell("Average Ping [ms]") +
          linkHeaderCell(speedSection, "Average Download Speed per Connection[kB/s]") + "</tr>\n";
  page += dataRows(topDomains, ".", CellStyle::Font, decimalPoint);
  page += "</table>\n";
  return page + pageEnd();
}

std::string SpeedStatisticsPage(std::vector<TServer> servers, std::vector<TServer> topDomains,
                                std::string_view pingPageLink, std::string_view decimalPoint) {
  sortByDescendingSpeed(servers);
  sortByDescendingSpeed(topDomains);
  const std::string pingSection = std::string(pingPageLink) + "#" + std::string(kSectionAnchor);
  std::string page = pageStart();
  page += kTableStart;
  page += std::string(kHeaderRowStart) + headerCell("Server") +
          linkHeaderCell(pingPageLink, "Average Ping [ms]") + headerCell("Average Download Speed [kB/s]") +
          "</tr>\n";
  page += dataRows(servers, "", CellStyle::Font, decimalPoint);
  page += "</table>\n<br>\n";
  page += anchor();
  page += kTableStart;
  page += std::string(kHeaderRowStart) + headerCell("Top Domain") +
          linkHeaderCell(pingSection, "Average Ping [ms]") + headerCell("Average Download Speed [kB/s]") +
          "</tr>\n";
  page += dataRows(topDomains, ".", CellStyle::Plain, decimalPoint);
  page += "</table>\n";
  return page + pageEnd();
}

} // namespace velmora

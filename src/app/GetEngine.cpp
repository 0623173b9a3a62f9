#include "app/GetEngine.h"

#include "store/IndependentGeneralFunctions.h"
#include "store/RecordLeftovers.h"
#include "store/RecordSettings.h"

#include <cstdio>
#include <filesystem>
#include <set>

namespace velmora {

platform::Environment ProxyEnvironment(const std::string &proxy) {
  platform::Environment system = platform::SystemEnvironment();
  if (proxy.empty())
    return system;
  return [system, proxy](const std::string &name) -> std::optional<std::string> {
    if (name == "http_proxy" || name == "HTTP_PROXY")
      return proxy;
    return system(name);
  };
}

TGetEngine::TGetEngine(TAppEnvironment &app, const TGetOptions &options)
    : Credentials(options.User, options.Password), Http{Loop, *app.Settings, ProxyEnvironment(options.Proxy),
                                                        Credentials, app.Words},
      Ftp{Loop, *app.Settings, platform::SystemEnvironment(), app.Words, &Credentials}, Factory(Http, Ftp),
      Pings(Loop), LocalMirrors(app.Paths.mirrorListFile), Statistics(TServerStatsFiles::Of(app.Paths)),
      DownloaderContext{Loop, *app.Settings,      app.Words, Factory, {&Pings, &LocalMirrors, &Statistics},
                        {},   DecimalSeparator(), &Sites},
      RecordContext{app.Words, app.Translator->AsFunction(), nullptr,
                    [&app] { return PartialDownloadsDirectory(*app.Settings, app.Paths); }} {
  Statistics.Load();
  if (options.Insecure) {
    Http.VerifyCertificates = false;
    std::fprintf(stderr, "velmora-get: --insecure: the certificates of https servers are not checked\n");
  }
  Http.CaCertificateFile = options.CaCertificate;
  Http.OnTlsFailure = [said = std::set<std::string>()](const std::string &server,
                                                       const std::string &reason) mutable {
    // Every part of a download meets the same refusal: it is said once.
    if (said.insert(server + reason).second)
      std::fprintf(stderr, "velmora-get: %s: %s\n", server.c_str(), reason.c_str());
  };
}

std::unique_ptr<TLocalDownloadinfo> TGetEngine::FindOrCreateRecord(const std::string &url,
                                                                   const std::string &localFileName) {
  RemoveRecordSaveLeftovers(RecordContext.PartialDownloadsFolder());
  std::error_code error;
  for (std::filesystem::directory_iterator it(RecordContext.PartialDownloadsFolder(), error), end;
       !error && it != end; it.increment(error)) {
    if (it->path().extension() != ".dat")
      continue;
    std::string base = it->path().string();
    base.resize(base.size() - 4);
    auto record = std::make_unique<TLocalDownloadinfo>(TUrl(""), base, RecordContext);
    if (!record->Damaged() && !record->IsDone() && record->Url.Url == url &&
        record->LocalFileName == localFileName)
      return record;
  }
  auto record = std::make_unique<TLocalDownloadinfo>(TUrl(url), "", RecordContext);
  record->LocalFileName = localFileName;
  return record;
}

} // namespace velmora

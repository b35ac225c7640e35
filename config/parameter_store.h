// The process-wide table of named text parameters.
//
// Filled at start-up from Config.EF and the instance INI file, changed at run
// time by pages, the login and the server probe, and read by everything that
// builds a service address. Names are kept in upper case, so look-ups ignore
// case. Names beginning "_INI_" live in section "_GlobalPara_" of the
// instance INI file instead. Service addresses are stored with placeholders
// ("$SERVER$", "$SERVER_CORE$", "$SERVER_DATA$") and completed on every read
// with a server chosen by weight from "serverlist".
#pragma once

#include <map>
#include <mutex>
#include <string>

using ParameterMap = std::map<std::string, std::string>;

class ParameterStore {
 public:
  static ParameterStore& Instance();

  std::string Get(const std::string& name) const;
  void Set(const std::string& name, const std::string& value);
  ParameterMap Snapshot() const;
  // Forgets every in-memory parameter (INI values stay).
  void Clear();

 private:
  mutable std::mutex lock_;
  ParameterMap values_;
};

// The value, completed with servers for the service-address names; empty
// when absent.
std::string GetParameter(const std::string& name);

void SetParameter(const std::string& name, const std::string& value);

// A copy of all in-memory parameters, taken under the store's lock (names in
// upper case, values as stored).
void CopyAllParameters(ParameterMap& copy);

// Chooses a server of the kind ("app", "cor", "dat") from "serverlist" with a
// probability proportional to its weight.
bool SelectServer(const std::string& kind, std::string& server);

// The draw of SelectServer for a given pseudo-random number: the entries of
// the kind stand in it as many times as their weight, in list order, and the
// number modulo the summed weights picks one.
bool ChooseServer(const std::string& list, const std::string& kind, uint32_t random_number,
                  std::string& server);

// Replaces the host part of url with a "dat" server, chosen by weight among
// those that have not failed lately and preferring the faster ones
// (ChooseDataServer), and logs why; false, url unchanged, when there is none.
// A transfer from the URL reports how it went with ReportDataServerOutcome.
bool ReplaceUrlHost(std::string& url);

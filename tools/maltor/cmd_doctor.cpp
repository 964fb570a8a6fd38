// maltor doctor: what stands between the user and a device.
#include <cstdio>

#include "command.h"
#include "command_support.h"
#include "doctor.h"
#include "errors.h"

namespace maltor::tool {

const char* check_status_name(CheckStatus status) {
  switch (status) {
    case CheckStatus::kOk:
      return "ok";
    case CheckStatus::kWarning:
      return "warning";
    case CheckStatus::kFailed:
      break;
  }
  return "failed";
}

std::string format_check(const DoctorCheck& check) {
  static constexpr const char* kMarks[] = {"[ok]  ", "[warn]", "[FAIL]"};
  std::string line = std::string(kMarks[static_cast<int>(check.status)]) + " " + check.name + ": " +
                     check.found + "\n";
  if (!check.fix.empty()) line += "       fix: " + check.fix + "\n";
  return line;
}

namespace {

DoctorCheck library_check(Session& session) {
  DoctorCheck check{"library", CheckStatus::kOk, "", ""};
  try {
    const Library& library = session.library();
    check.found = library.path();
    if (library.exports("MaltorGetVersion")) {
      check.found += ", version " + version_text(MALTOR_FUNCTION(library, MaltorGetVersion)());
    } else {
      check.status = CheckStatus::kWarning;
      check.found += ", older than 0.2.0 (no MaltorGetVersion)";
      check.fix = "install the library that came with this maltor";
    }
  } catch (const ToolError& error) {
    check.status = CheckStatus::kFailed;
    const std::string message = error.what();
    check.found = message.substr(0, message.find('\n'));
    check.fix = "install the library, or give its file with --lib PATH";
  }
  return check;
}

int run_doctor(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  args.expect_done();
  std::vector<DoctorCheck> checks = {library_check(session)};
  // The virtual bus has no host set-up to check.
  if (!session.options().sim) {
    for (DoctorCheck& check : host_usb_checks()) checks.push_back(std::move(check));
  }
  bool failed = false;
  for (const DoctorCheck& check : checks) failed |= check.status == CheckStatus::kFailed;

  if (json_out) {
    JsonWriter json;
    json.begin_object().key("ok").value(!failed).key("checks").begin_array();
    for (const DoctorCheck& check : checks) {
      json.begin_object().key("check").value(check.name);
      json.key("status").value(check_status_name(check.status)).key("found").value(check.found);
      json.key("fix").value_or_null(check.fix.empty() ? std::nullopt : std::optional(check.fix));
      json.end_object();
    }
    json.end_array().end_object();
    print_json(json);
  } else {
    for (const DoctorCheck& check : checks) std::printf("%s", format_check(check).c_str());
  }
  return failed ? kExitFailed : kExitOk;
}

constexpr Command kCommands[] = {
    {"doctor", "check what a device needs: library, USB access, driver",
     "maltor [global options] doctor [--json]\n"
     "\n"
     "Runs the checklist for when no device is found, one line per check with its\n"
     "fix: the library loaded and its version; on Linux the libusb version, the\n"
     "Maltor devices on the bus (vendor 4d54, whatever their state), access to\n"
     "their device nodes, the udev rule installed where udev reads it, and a kernel\n"
     "driver or another program holding interface 0; on Windows the device\n"
     "interface present and WinUSB bound to it. Exit code 1 when a check failed.\n"
     "\n"
     "  --json    one JSON object: {\"ok\": ..., \"checks\": [{\"check\", \"status\",\n"
     "            \"found\", \"fix\"}, ...]}\n",
     run_doctor},
};

}  // namespace

std::span<const Command> doctor_commands() {
  return kCommands;
}

}  // namespace maltor::tool

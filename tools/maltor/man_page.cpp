#include "man_page.h"

#include "MaltorUSBdrv.h"
#include "command.h"
#include "command_support.h"

namespace maltor::tool {

std::string roff_literal(std::string_view text) {
  std::string out;
  bool line_start = true;
  for (const char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";  // a real minus, so options can be searched and copied
    } else {
      out += c;
    }
    line_start = c == '\n';
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

std::string man_page(std::string_view global_help, std::string_view help_tail) {
  // The help's list of commands becomes a section of its own.
  constexpr std::string_view kListHeading = "Commands:\n";
  if (global_help.ends_with(kListHeading)) global_help.remove_suffix(kListHeading.size());
  const std::string version = version_text(MALTOR_USBDRV_VERSION);
  std::string page = ".TH MALTOR 1 \"\" \"maltor " + version + "\" \"User Commands\"\n";
  page += ".SH NAME\nmaltor \\- talk to Maltor data loggers, CAN gateways and data processors\n";
  page += ".SH SYNOPSIS\n.nf\n" + roff_literal(global_help) + ".fi\n";
  page += ".SH COMMANDS\n";
  for (const Command* command : all_commands()) {
    page += ".SS " + roff_literal(command->name);
    page += roff_literal(command->summary);
    page += ".PP\n.nf\n" + roff_literal(command->usage) + ".fi\n";
  }
  page += ".SH NOTES\n.nf\n" + roff_literal(help_tail) + ".fi\n";
  page += ".SH SEE ALSO\ncandump(1), canplayer(1), udev(7)\n";
  return page;
}

}  // namespace maltor::tool

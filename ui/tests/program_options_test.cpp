#include "ui/program_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qarn2::ui {
namespace {

struct OptionsCase {
  std::vector<std::string> args;
  std::string error;         // empty: accepted
  bool simulate = false;
  bool help = false;
  std::string com1_path = "";  // where COM1 leads for this run
  std::string com2_path = "";
  std::string sim_decoder = "";
};

TEST(ProgramOptionsTest, ReadsTheCommandLine) {
  const std::vector<OptionsCase> cases = {
      {{}, "", false, false, "/dev/ttyS0", "/dev/ttyS1", ""},
      {{"--simulate"}, "", true, false, "sim", "sim", ""},
      {{"--port", "COM2=/dev/ttyUSB0"}, "", false, false, "/dev/ttyS0", "/dev/ttyUSB0", ""},
      {{"--port", "com1=sim", "--port", "COM2=/dev/ttyUSB1"}, "", false, false, "sim", "/dev/ttyUSB1", ""},
      {{"--sim-decoder", "lok.dec"}, "", false, false, "sim", "sim", "lok.dec"},
      // A --port that names the track already: the decoder file keeps the others.
      {{"--port", "COM2=sim", "--sim-decoder", "lok.dec"}, "", false, false, "/dev/ttyS0", "sim", "lok.dec"},
      {{"--help"}, "", false, true, "/dev/ttyS0", "/dev/ttyS1", ""},
      {{"--port"}, "--port needs a value", false, false, "", "", ""},
      {{"--sim-decoder"}, "--sim-decoder needs a value", false, false, "", "", ""},
      {{"--port", "COM17=/dev/x"}, "--port takes COMn=PATH with n from 1 to 16, not 'COM17=/dev/x'", false, false, "", "", ""},
      {{"--port", "COM1="}, "--port takes COMn=PATH with n from 1 to 16, not 'COM1='", false, false, "", "", ""},
      {{"--virtual-time"}, "unknown argument '--virtual-time'", false, false, "", "", ""},
      // The decoder's traits are the simulated track's: asking for them asks for it.
      {{"--sim-trait", "ack-every-packet"}, "", false, false, "sim", "sim", ""},
      {{"--port", "COM2=sim", "--sim-trait", "strict-preamble"}, "", false, false, "/dev/ttyS0", "sim", ""},
      {{"--port", "COM1=/dev/ttyUSB0", "--sim-trait", "write-delay=80"},
       "--sim-trait puts every port on the simulated track, but --port names COM1=/dev/ttyUSB0; give --port "
       "COMn=sim for the track instead",
       false, false, "", "", ""},
      // A real port named and the simulated track wanted: which one was meant?
      {{"--port", "COM1=/dev/ttyUSB0", "--sim-decoder", "lok.dec"},
       "--sim-decoder puts every port on the simulated track, but --port names COM1=/dev/ttyUSB0; give --port "
       "COMn=sim for the track instead",
       false, false, "", "", ""},
      {{"--simulate", "--port", "COM2=/dev/ttyUSB0"},
       "--simulate puts every port on the simulated track, but --port names COM2=/dev/ttyUSB0; give --port "
       "COMn=sim for the track instead",
       false, false, "", "", ""},
  };
  // The simulated decoder's traits reach the engine's track.
  const ParsedOptions traits =
      ParseProgramOptions(std::vector<std::string>{"--simulate", "--sim-trait", "ack-every-packet", "--sim-trait", "write-delay=80"});
  ASSERT_EQ(traits.error, "");
  EXPECT_EQ(sim::DescribeTraits(EngineOptionsFor(traits.options).track.decoder), "ack-every-packet write-delay=80");
  EXPECT_NE(ParseProgramOptions(std::vector<std::string>{"--sim-trait", "slow"}).error, "");
  for (const OptionsCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const ParsedOptions parsed = ParseProgramOptions(c.args);
    EXPECT_EQ(parsed.error, c.error);
    if (!c.error.empty()) continue;
    EXPECT_EQ(parsed.options.simulate, c.simulate);
    EXPECT_EQ(parsed.options.help, c.help);
    EXPECT_EQ(parsed.options.sim_decoder, c.sim_decoder);
    const serial::PortMap ports = PortsFor(parsed.options);
    EXPECT_EQ(ports.PathOf("COM1"), c.com1_path);
    EXPECT_EQ(ports.PathOf("COM2"), c.com2_path);
  }
}

// The forms a Linux command line allows besides "--name VALUE".
TEST(ProgramOptionsTest, TakesTheUsualForms) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
    std::string file = "";
    std::string com1_path = "/dev/ttyS0";
    bool help = false;
    bool version = false;
  };
  const std::vector<Case> cases = {
      {{"--version"}, "", "", "/dev/ttyS0", false, true},
      {{"-h"}, "", "", "/dev/ttyS0", true},
      {{"--port=COM1=sim"}, "", "", "sim"},
      {{"--sim-decoder=lok.dec", "lok.DEC"}, "", "lok.DEC", "sim"},
      {{"lok.DEC", "--simulate"}, "", "lok.DEC", "sim"},
      {{"--", "--simulate"}, "", "--simulate"},
      {{"--", "-h"}, "", "-h"},
      {{"a.DEC", "b.DEC"}, "one decoder file at a time: 'a.DEC' or 'b.DEC'?"},
      {{"--simulate=ja"}, "--simulate takes no value"},
      {{"--port="}, "--port takes COMn=PATH with n from 1 to 16, not ''"},
      {{"--sim"}, "unknown argument '--sim'"},
      {{"--simul"}, "unknown argument '--simul'"},
      {{"-x"}, "unknown argument '-x'"},
      {{"--nix=1"}, "unknown argument '--nix=1'"},
      {{"--jmri", "/"}, "--jmri: '/' is no JMRI folder (neither it nor its xml folder has decoders/ or decoderIndex.xml)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    const ParsedOptions parsed = ParseProgramOptions(c.args);
    EXPECT_EQ(parsed.error, c.error);
    if (!c.error.empty()) continue;
    EXPECT_EQ(parsed.options.file, c.file);
    EXPECT_EQ(PortsFor(parsed.options).PathOf("COM1"), c.com1_path);
    EXPECT_EQ(parsed.options.help, c.help);
    EXPECT_EQ(parsed.options.version, c.version);
  }
}

}  // namespace
}  // namespace qarn2::ui

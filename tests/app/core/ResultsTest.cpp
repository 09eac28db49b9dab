#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "link/KVTComms.h"
#include "tests/support/ScriptedOperator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Kind = ScriptedOperator::Kind;

std::string suffix(uint8_t code) { return ResultText(code).mSuffix; }
std::string text(uint8_t code) { return ResultText(code).mMessage; }

TEST(ResultTable, LibraryStatusRows) {
  EXPECT_EQ(suffix(0x01), "... BEAMDOCK error");
  EXPECT_EQ(text(0x01), "BEAMDOCK error occurred\rClose program and then restart QRB BEAMDOCK program");
  for (int code : {2, 3, 4, 5, 6, 8, 9}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(suffix(static_cast<uint8_t>(code)), "... BEAMDOCK Connect ERROR");
    EXPECT_EQ(text(static_cast<uint8_t>(code)),
              "BEAMDOCK connect error\rCheck BEAMDOCK connection or \rBEAMDOCK Re-Install driver");
  }
  // The port error shares the suffix but has the short text.
  EXPECT_EQ(suffix(LINK_PORTERROR), "... BEAMDOCK Connect ERROR");
  EXPECT_EQ(text(LINK_PORTERROR), "BEAMDOCK connect error\rCheck BEAMDOCK connection");
}

TEST(ResultTable, CodesWithoutARowOfTheirOwn) {
  for (int code : {0x07, 0x0A, 0x7F, 0x88, 0x90, 0x91, 0x93, 0x95, 0xA3, 0xB3, 0xC6, 0xFB}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(suffix(static_cast<uint8_t>(code)), "... FAIL");
    EXPECT_EQ(text(static_cast<uint8_t>(code)), "Error ocuured");
  }
}

TEST(ResultTable, ApplicationAndLinkRows) {
  EXPECT_EQ(suffix(LINK_OK), "... OK");
  EXPECT_EQ(text(LINK_OK), "");
  EXPECT_EQ(text(0x80), "Upgrade data file open error\rCheck Upgrade File");
  EXPECT_EQ(text(0x81), "Upgrade data file size different\rCheck Upgrade File");
  EXPECT_EQ(text(0x82), "Upgrade data file CRC error\rCheck Upgrade File");
  EXPECT_EQ(text(0x83), "Upgrade data file wrong type\rCheck Upgrade File");
  EXPECT_EQ(text(0x84), "This file is not old version\rCheck Upgrade File");
  EXPECT_EQ(text(0x85), "This file is not useful to KVT unit\rCheck Upgrade File");
  EXPECT_EQ(suffix(0x86), "... USER STOP");
  EXPECT_EQ(text(0x86), "User Stop...");
  EXPECT_EQ(text(0x87), "Program validation failed\rRetry download image");
  EXPECT_EQ(text(0x92), "This is not KVT module");
  EXPECT_EQ(text(0x94), "Check sensor type and Alarm setting");
  EXPECT_EQ(suffix(LINK_NOCONNECT), "... KVT Connect ERROR");
  EXPECT_EQ(text(LINK_NOCONNECT), "KVT connect error\rCheck BEAMDOCK and KVT connection");
  EXPECT_EQ(text(LINK_NORESPONSE), "KVT comunication error - no response");
  EXPECT_EQ(text(LINK_NAK), "KVT comunication error - negative response");
  EXPECT_EQ(text(LINK_ERROR), "KVT comunication error");
  EXPECT_EQ(text(LINK_CRCERROR), "KVT comunication error - CRC error");
  EXPECT_EQ(text(LINK_BLOCKCRC), "KVT comunication error\rWrong configuration information\rCheck device");
  EXPECT_EQ(text(0xC1), "Must calibration before POWER OFF");
  EXPECT_EQ(text(0xC2), "Zero calibration failed");
  EXPECT_EQ(text(0xC3), "Hibernation is not allowed");
  // A transfer the link refuses before sending it (a settings fault, not the detector's).
  EXPECT_EQ(suffix(LINK_LIMIT), "... FAIL");
  EXPECT_EQ(text(LINK_LIMIT), "Transfer size outside the link limits\rCheck the packet and size settings or the device");
  EXPECT_EQ(suffix(0xFC), "... BEAMDOCK isnot found");
  EXPECT_EQ(text(0xFC), "BEAMDOCK isnot found\rBEAMDOCK Re-Install driver");
  EXPECT_EQ(suffix(LINK_OSNOTSUPPORTED), "... O/S is not support");
  EXPECT_EQ(text(LINK_OSNOTSUPPORTED), "O/S is not support");
  EXPECT_EQ(suffix(LINK_MULTIADAPTER), "... BEAMDOCK found 1 more");
  EXPECT_EQ(text(LINK_MULTIADAPTER), "BEAMDOCK found one more\rOnly use one BEAMDOCK");
  EXPECT_EQ(suffix(LINK_NOADAPTER), "... BEAMDOCK isnot found(A)");
  EXPECT_EQ(text(LINK_NOADAPTER), "BEAMDOCK isnot found\rBEAMDOCK Re-Install driver(A)");
  // Every failure has a message: a red status never comes without its box text.
  for (int code = 1; code < 256; ++code) EXPECT_STRNE(ResultText(static_cast<uint8_t>(code)).mMessage, "") << code;
}

TEST(EndOperation, SuccessIsGreenWithoutABox) {
  ScriptedOperator op;
  EndOperation(op, 0, "Read KVT Information");
  ASSERT_EQ(op.events().size(), 1u);
  EXPECT_EQ(op.lastStatus().colour, StatusColour::Success);
  EXPECT_EQ(op.lastStatus().text, "Read KVT Information... OK");
  EXPECT_EQ(op.pumps(), 1);  // painted before the caller goes on
}

TEST(EndOperation, FailureIsRedWithOneBoxTitledWithTheName) {
  ScriptedOperator op;
  EndOperation(op, LINK_NORESPONSE, "Load Event Log");
  ASSERT_EQ(op.events().size(), 2u);
  EXPECT_EQ(op.events()[0].kind, Kind::Status);
  EXPECT_EQ(op.events()[0].colour, StatusColour::Failure);
  EXPECT_EQ(op.events()[0].text, "Load Event Log... FAIL");
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].icon, MessageIcon::Error);
  EXPECT_EQ(op.messages()[0].caption, "Load Event Log");
  EXPECT_EQ(op.messages()[0].text, "KVT comunication error - no response");

  ScriptedOperator other;
  EndOperation(other, 0x90, "Hibernate");
  EXPECT_EQ(other.lastStatus().text, "Hibernate... FAIL");
  EXPECT_EQ(other.messages().at(0).text, "Error ocuured");
}

TEST(StatusStyle, ColoursOfTheThreeStates) {
  auto rgb = [](const uint8_t* c) { return (c[0] << 16) | (c[1] << 8) | c[2]; };
  EXPECT_EQ(rgb(StatusStyle(StatusColour::Running).mBackground), 0xFFFFFF);
  EXPECT_EQ(rgb(StatusStyle(StatusColour::Running).mText), 0x000000);
  EXPECT_EQ(rgb(StatusStyle(StatusColour::Success).mBackground), 0x00FF00);
  EXPECT_EQ(rgb(StatusStyle(StatusColour::Success).mText), 0x000000);
  EXPECT_EQ(rgb(StatusStyle(StatusColour::Failure).mBackground), 0xFF0000);
  EXPECT_EQ(rgb(StatusStyle(StatusColour::Failure).mText), 0xFFFFFF);
}

TEST(OperationGuard, ASecondOperationIsRefusedWhileOneRuns) {
  ScriptedOperator op;
  int ended = 0;
  op.Gate().SetOnEnded([&] { ++ended; });
  EXPECT_FALSE(op.Gate().Busy());
  {
    TOperationGuard first(op);
    ASSERT_TRUE(first);
    EXPECT_TRUE(op.Gate().Busy());
    // A click handled while the first one paints.
    {
      TOperationGuard second(op);
      EXPECT_FALSE(second);
    }
    EXPECT_TRUE(op.Gate().Busy());
    EXPECT_EQ(ended, 0);
  }
  EXPECT_FALSE(op.Gate().Busy());
  EXPECT_EQ(ended, 1);  // once, when the outermost guard is released
  TOperationGuard again(op);
  EXPECT_TRUE(again);
}

// The system's text first, then the device and what is wrong with it in words.
TEST(PortOpenError, NamesTheDeviceAndWhatIsWrong) {
  const struct {
    std::string error, device, words;
  } cases[] = {
      {"Error accessing specified device (Error: 2) ", "/dev/beamdock-none", "/dev/beamdock-none: no such device"},
      {"Error accessing specified device (Error: 13) ", "/dev/null", "/dev/null: no permission"},
      {"Error accessing specified device (Error: 16) ", "/dev/null", "/dev/null: in use by another program"},
      {"Invalid device handle, access denied (Error: -1) ", "/dev/null", "/dev/null: not a serial device"},
      {"Error accessing specified device (Error: 2) ", "", "no adapter found: plug the BeamDock adapter in"},
  };
  for (const auto& c : cases) {
    const std::string t = PortOpenErrorText(c.error, c.device);
    EXPECT_EQ(t.rfind(c.error + "\r", 0), 0u) << t;
    EXPECT_NE(t.find(c.words), std::string::npos) << t;
  }
}

}  // namespace

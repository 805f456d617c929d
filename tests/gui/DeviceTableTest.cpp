// The device table and the main component against emulated devices: the summary line and its
// counts, the buttons, the cover while no device is attached, the cells, and the selection.
#include "GuiTestSupport.h"
#include "UiTestSupport.h"

#include "KSButton.h"
#include "KSLabel.h"
#include "KSTableListBox.h"
#include "KSTextButton.h"
#include "MainComponent.h"
#include "Platform.h"

#include <gtest/gtest.h>

using namespace gui_testing;

namespace
{
const juce::Colour kCover(0xff3a3f45);
const juce::Colour kBackground(0xff45484f);
const juce::Colour kBlue(0xff08a8d8);
const juce::Colour kGreen(0xff16af5d);
const juce::Colour kGrey(0xff9da1a6);

constexpr uint32_t packed(uint32_t major, uint32_t minor, uint32_t build)
{
    return (major << 24) | (minor << 16) | build;
}

class DeviceTable : public ProgramTest
{
};
} // namespace

TEST_F(DeviceTable, ThreeDevicesOneNewerImageTwoNotNewer)
{
    plug("T207000001", 100, packed(1, 2, 0)); // image 1.3.1: newer
    plug("T211000002", 101, packed(1, 3, 2)); // image 1.3.2: the same
    plug("X000000003", 102, packed(2, 0, 0)); // image 1.3.3: older
    firmwareFile(100, 1, 3, 1);
    firmwareFile(101, 1, 3, 2);
    firmwareFile(102, 1, 3, 3);

    auto& main = makeMainComponent();
    EXPECT_EQ(main.GetSummaryLabel().getText(),
              "Found 3 device(s), of which 1 can be upgraded and 2 can be downgraded.");
    EXPECT_FALSE(main.IsShowingNoDevices());
    EXPECT_TRUE(main.GetSelectAllButton().isEnabled());
    EXPECT_FALSE(main.GetUpdateButton().isEnabled()) << "nothing is selected yet";
    EXPECT_TRUE(main.GetExitButton().isEnabled());
    EXPECT_TRUE(m_messageBoxes.empty());

    ASSERT_EQ(table().GetRows().size(), 3u);
    const auto first = view(0);
    EXPECT_EQ(first.statusText, "Can be upgraded");
    EXPECT_EQ(first.statusColour, kBlue);
    EXPECT_EQ(first.deviceKind, 2) << "serial characters 2 to 4 read 207";
    EXPECT_EQ(first.buttonMode, KSButton::checkBoxMode);
    EXPECT_TRUE(first.buttonEnabled);
    EXPECT_FALSE(first.progressVisible);
    EXPECT_EQ(view(1).statusText, "Can be downgraded");
    EXPECT_EQ(view(1).statusColour, kGreen);
    EXPECT_EQ(view(1).deviceKind, 1);
    EXPECT_EQ(view(2).deviceKind, 8);
    EXPECT_TRUE(view(2).buttonEnabled) << "downgrades are allowed from the start";
    EXPECT_EQ(table().GetRows()[2].availableVersion, "1.3.3");
    EXPECT_EQ(table().GetRows()[2].installedVersion, "2.0.0");
}

TEST_F(DeviceTable, TwoDevicesWithoutImagesCanNeitherBeSelectedNorUpdated)
{
    plug("T2000000A1", 100, packed(1, 2, 0));
    plug("T2000000A2", 300, packed(1, 2, 0));
    firmwareFile(555, 1, 0, 7); // fits neither

    auto& main = makeMainComponent();
    EXPECT_EQ(main.GetSummaryLabel().getText(),
              "Found 2 device(s), of which 0 can be upgraded and 0 can be downgraded.");
    EXPECT_FALSE(main.GetSelectAllButton().isEnabled());
    EXPECT_FALSE(main.GetUpdateButton().isEnabled());
    for (int row = 0; row < 2; ++row)
    {
        EXPECT_EQ(view(row).statusText, "Firmware file not found");
        EXPECT_EQ(view(row).statusColour, kGrey);
        EXPECT_FALSE(view(row).buttonEnabled);
    }
}

TEST_F(DeviceTable, UnpluggingTheLastDeviceShowsTheSearchAndTheCover)
{
    auto device = plug("T207000001", 100, packed(1, 2, 0));
    firmwareFile(100, 1, 3, 1);
    auto& main = makeMainComponent();
    main.setSize(MainComponent::kWidth, MainComponent::kHeight);

    auto covered = [&](const juce::Image& shot) {
        // The header band and the strip under the table take the cover colour; the picture sits
        // in the middle of the covered area.
        return uitest::near(uitest::pixel(shot, 5, 120), kCover) && uitest::near(uitest::pixel(shot, 600, 650), kCover)
               && !uitest::inkBounds(shot, { 0, 112, 1090, 597 }, kCover).isEmpty();
    };
    auto shot = uitest::snapshot(main, "table-with-device");
    EXPECT_FALSE(covered(shot));
    EXPECT_TRUE(uitest::near(uitest::pixel(shot, 600, 690), kBackground));

    m_bus->unplug(device->path());
    ASSERT_TRUE(pumpUntil([&] { return main.IsShowingNoDevices(); })) << "the idle thread reports the unplug";
    EXPECT_EQ(main.GetSummaryLabel().getText(), "Searching for devices ...");
    EXPECT_EQ(table().GetRows().size(), 0u);
    shot = uitest::snapshot(main, "table-no-device");
    EXPECT_TRUE(covered(shot));
    const auto picture = uitest::inkBounds(shot, { 0, 112, 1090, 597 }, kCover);
    EXPECT_EQ(picture.getCentre().x, 545);
    EXPECT_NEAR(picture.getCentre().y, 112 + 597 / 2, 2);
    EXPECT_TRUE(uitest::near(uitest::pixel(shot, 5, 50), juce::Colour(0xff24272c))) << "the summary line stays";
    pumpUntil([] { return false; }, 100);
    EXPECT_FALSE(main.GetSelectAllButton().isEnabled());
    EXPECT_FALSE(main.GetUpdateButton().isEnabled());

    m_bus->replug(device);
    ASSERT_TRUE(pumpUntil([&] { return !main.IsShowingNoDevices(); }));
    EXPECT_EQ(main.GetSummaryLabel().getText(),
              "Found 1 device(s), of which 1 can be upgraded and 0 can be downgraded.");
    EXPECT_FALSE(covered(uitest::snapshot(main)));
}

TEST_F(DeviceTable, SelectionSurvivesRefillsAndUnplugs)
{
    auto a = plug("T207000001", 100, packed(1, 2, 0));
    plug("T207000002", 100, packed(1, 2, 0));
    plug("T207000003", 100, packed(1, 2, 0));
    firmwareFile(100, 1, 3, 1);
    auto& main = makeMainComponent();

    // Tick the second and the third row as a click would.
    for (int row : { 1, 2 })
    {
        auto* cell = dynamic_cast<KSTableListBox::DeviceComponent*>(
            table().GetTable().getCellComponent(KSTableListBox::DeviceNameColumn, row));
        ASSERT_NE(cell, nullptr);
        cell->GetButton().triggerClick();
    }
    ASSERT_TRUE(pumpUntil([&] { return main.GetUpdateButton().isEnabled(); }));
    EXPECT_TRUE(table().GetRows()[1].selected);

    table().RefreshDeviceRows();
    EXPECT_FALSE(table().GetRows()[0].selected);
    EXPECT_TRUE(table().GetRows()[1].selected);
    EXPECT_TRUE(table().GetRows()[2].selected);
    EXPECT_EQ(view(1).buttonTick, 1);

    // The first device goes: the rows move up and keep their selection.
    m_bus->unplug(a->path());
    ASSERT_TRUE(pumpUntil([&] { return table().GetRows().size() == 2; }));
    EXPECT_EQ(table().GetRows()[0].serialNumber, "T207000002");
    EXPECT_TRUE(table().GetRows()[0].selected);
    EXPECT_TRUE(table().GetRows()[1].selected);
    EXPECT_EQ(view(0).buttonTick, 1);
    EXPECT_TRUE(main.GetUpdateButton().isEnabled());

    // Unticking the last two leaves nothing to update.
    for (int row : { 0, 1 })
        dynamic_cast<KSTableListBox::DeviceComponent*>(
            table().GetTable().getCellComponent(KSTableListBox::DeviceNameColumn, row))
            ->GetButton()
            .triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return !main.GetUpdateButton().isEnabled(); }));
}

TEST_F(DeviceTable, SelectAllTicksAndClearsTheSelectableRows)
{
    plug("T207000001", 100, packed(1, 2, 0)); // newer image
    plug("T207000002", 101, packed(1, 3, 2)); // same version: a downgrade, selectable
    plug("T207000003", 300, packed(1, 0, 0)); // no image
    firmwareFile(100, 1, 3, 1);
    firmwareFile(101, 1, 3, 2);
    auto& main = makeMainComponent();

    main.GetSelectAllButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return main.GetUpdateButton().isEnabled(); }));
    EXPECT_EQ(main.GetSelectAllButton().tick, 1);
    EXPECT_TRUE(table().GetRows()[0].selected);
    EXPECT_TRUE(table().GetRows()[1].selected);
    EXPECT_FALSE(table().GetRows()[2].selected);
    EXPECT_EQ(view(0).buttonTick, 1);
    EXPECT_EQ(view(2).buttonTick, 0);

    main.GetSelectAllButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return !main.GetUpdateButton().isEnabled(); }));
    for (const auto& row : table().GetRows())
        EXPECT_FALSE(row.selected);
}

TEST_F(DeviceTable, ADeviceNewerThanTheProgramWarnsAtEveryRefill)
{
    plug("T207000001", 535, packed(1, 0, 0));
    plug("T207000002", 536, packed(1, 0, 0)); // no image: no warning
    firmwareFile(535, 2, 0, 1);
    makeMainComponent();
    ASSERT_EQ(m_messageBoxes.size(), 1u);
    EXPECT_EQ(m_messageBoxes[0], "Fatal: this device is a newer device , it comes from the future.");
    EXPECT_EQ(table().GetRows().size(), 2u) << "the device is listed all the same";
    table().RefreshDeviceRows();
    EXPECT_EQ(m_messageBoxes.size(), 2u);
}

TEST_F(DeviceTable, ARefillDuringTheNewerDeviceWarningWinsOverTheRowsBuiltBeforeIt)
{
    plug("T207000001", 535, packed(1, 0, 0));
    const auto pulled = plug("T207000002", 100, packed(1, 0, 0));
    firmwareFile(535, 2, 0, 1);
    makeMainComponent();
    ASSERT_EQ(table().GetRows().size(), 2u);

    // The box runs its own message loop; a device is pulled out while it is open, and the
    // hot-plug refill runs inside that loop (and warns again, from inside).
    int boxes = 0;
    int refillsInsideTheBox = 0;
    platform::setMessageBoxHandler([&](const std::string&, const std::string&) {
        if (++boxes > 1)
            return;
        const int before = table().GetRefillCount();
        m_bus->unplug(pulled->path());
        pumpUntil([&] { return table().GetRefillCount() > before; }, 3000);
        refillsInsideTheBox = table().GetRefillCount() - before;
    });
    table().RefreshDeviceRows();
    ASSERT_EQ(refillsInsideTheBox, 1) << "the hot-plug refill ran while the box was open";

    const auto& rows = table().GetRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].serialNumber, "T207000001");
    EXPECT_EQ(m_main->GetSummaryLabel().getText(),
              "Found 1 device(s), of which 1 can be upgraded and 0 can be downgraded.");
    EXPECT_EQ(table().GetTable().getNumRows(), 1);
}

TEST_F(DeviceTable, DevicePictureStatusCellAndInertHeader)
{
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("T201"), 7);
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("T204x"), 5);
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("T2095555"), 5);
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("T202"), 8);
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("T20"), 8) << "only two digits: 20";
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("T"), 8);
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial(""), 8);
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("T+21"), 8) << "a sign, then 21";
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial(" 210"), 3) << "the first character is skipped, whatever it is";
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("X 21"), 8);
    EXPECT_EQ(KSTableListBox::DeviceKindForSerial("X211"), 1);

    plug("T207000001", 100, packed(1, 2, 0));
    firmwareFile(100, 1, 3, 1);
    makeMainComponent();

    auto& header = table().GetTable().getHeader();
    // A click and a drag on the header change nothing.
    const auto mouse = juce::Desktop::getInstance().getMainMouseSource();
    const auto time = juce::Time::getCurrentTime();
    const juce::Point<float> start(400.0f, 10.0f);
    auto event = [&](juce::Point<float> at, bool dragged) {
        return juce::MouseEvent(mouse, at, juce::ModifierKeys::leftButtonModifier, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                &header, &header, time, start, time, 1, dragged);
    };
    header.mouseDown(event(start, false));
    header.mouseDrag(event({ 700.0f, 10.0f }, true));
    header.mouseUp(event({ 700.0f, 10.0f }, true));
    header.mouseDown(event({ 479.0f, 10.0f }, false)); // on the border between two columns
    header.mouseDrag(event({ 520.0f, 10.0f }, true));
    header.mouseUp(event({ 520.0f, 10.0f }, true));
    EXPECT_EQ(header.getSortColumnId(), 0);
    EXPECT_EQ(header.getColumnIdOfIndex(1, true), 2);
    EXPECT_EQ(header.getColumnWidth(2), 160);

    // Status texts and colours: the status cell follows the row.
    auto* row = table().GetRow(0);
    ASSERT_NE(row, nullptr);
    row->status = RESULT_WRITING;
    row->statusText = "Writing ...   37%";
    row->progress = 37;
    table().GetTable().updateContent();
    auto v = view(0);
    EXPECT_EQ(v.statusColour, kGreen);
    EXPECT_TRUE(v.progressVisible);
    EXPECT_DOUBLE_EQ(v.progress, 0.37);
    row->progress = 101;
    row->status = RESULT_VERIFY_ERROR;
    table().GetTable().updateContent();
    v = view(0);
    EXPECT_FALSE(v.progressVisible) << "above 100 hides the bar";
    EXPECT_EQ(v.statusColour, juce::Colour(0xfff94340));
    row->progress = 100;
    table().GetTable().updateContent();
    EXPECT_TRUE(view(0).progressVisible);
    EXPECT_DOUBLE_EQ(view(0).progress, 1.0);

    // The status of a lost device does not fit the cell on one line: it takes two, unsqueezed.
    row->progress = -1;
    row->status = RESULT_DEVICE_NOT_FOUND;
    row->statusText = "Failed to upgrade, and the device may lost.";
    table().GetTable().updateContent();
    auto* status = dynamic_cast<KSTableListBox::DeviceStatusComponent*>(
        table().GetTable().getCellComponent(KSTableListBox::StatusColumn, 0));
    ASSERT_NE(status, nullptr);
    const auto layout = status->GetLabel().currentLayout();
    EXPECT_TRUE(layout.fits);
    EXPECT_EQ(layout.lines.size(), 2);
    EXPECT_EQ(layout.fontHeight, 15.0f);
}

// What the device table's cells show: status texts and colours, device pictures, the serial
// number text, the painted cells and the components the framework asks for.
#include "KSTableListBox.h"

#include "StringResources.h"

namespace
{
const juce::Colour kRowLine(0xff31363c);
const juce::Colour kCellText(0xff9da1a6);

const juce::Colour kGrey(0xff9da1a6);
const juce::Colour kBlue(0xff08a8d8);
const juce::Colour kGreen(0xff16af5d);
const juce::Colour kRed(0xfff94340);

// The reading of a number as the C library's atoi does it: leading white space, one sign,
// then digits up to the first other character; 0 when there is no digit.
int leadingDecimal(const juce::String& text)
{
    auto p = text.getCharPointer();
    while (juce::CharacterFunctions::isWhitespace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    int value = 0;
    while (*p >= '0' && *p <= '9')
        value = value * 10 + static_cast<int>(*p++ - '0');
    return negative ? -value : value;
}
} // namespace

juce::String KSTableListBox::GetStatusText(int32_t status)
{
    return getUpgradeStatusText(status);
}

juce::Colour KSTableListBox::GetStatusColour(int32_t status)
{
    switch (status)
    {
        case RESULT_CAN_UPGRADE:
            return kBlue;
        case RESULT_CAN_DOWNGRADE:
        case RESULT_ERASING:
        case RESULT_WRITING:
        case RESULT_VERIFYING:
        case RESULT_VERIFIED:
        case RESULT_RESERVED_17:
        case RESULT_REPLUG_REQUIRED:
        case RESULT_ALREADY_UPGRADED:
            return kGreen;
        case RESULT_ERASE_ERROR:
        case RESULT_WRITE_ERROR:
        case RESULT_VERIFY_ERROR:
        case RESULT_INTERRUPTED:
        case RESULT_DEVICE_NOT_FOUND:
            return kRed;
        default:
            return kGrey;
    }
}

juce::String KSTableListBox::SerialNumberText(int row) const
{
    if (!juce::isPositiveAndBelow(row, (int) m_rows.size()))
        return {};
    // Devices that share a serial number are numbered in list order, so that each row can be
    // told from the others: "0000 (1)", "0000 (2)".
    const DeviceRow& shown = m_rows[(size_t) row];
    int sharing = 0;
    int position = 0;
    for (size_t i = 0; i < m_rows.size(); ++i)
    {
        if (m_rows[i].locked || !sameSerial(m_rows[i].serialNumber, shown.serialNumber))
            continue;
        ++sharing;
        if ((int) i <= row)
            position = sharing;
    }
    if (sharing < 2 || shown.locked)
        return shown.serialNumber;
    return shown.serialNumber + " (" + juce::String(position) + ")";
}

int KSTableListBox::DeviceKindForSerial(const juce::String& serialNumber)
{
    switch (leadingDecimal(serialNumber.substring(1, 4)))
    {
        case 201: return 7;
        case 204: return 5;
        case 205: return 3;
        case 206: return 4;
        case 207: return 2;
        case 208: return 6;
        case 209: return 5;
        case 210: return 3;
        case 211: return 1;
        default: return 8;
    }
}

int KSTableListBox::getNumRows()
{
    return (int) m_rows.size();
}

void KSTableListBox::paintRowBackground(juce::Graphics& g, int, int width, int height, bool)
{
    g.setColour(juce::Colour(kTableBackgroundArgb));
    g.fillRoundedRectangle(0.0f, 0.0f, (float) width, (float) height, 3.5f);
    g.setColour(kRowLine);
    g.fillRect(0, height - 1, width, 1);
}

void KSTableListBox::paintCell(juce::Graphics& g, int rowNumber, int columnId, int width, int height, bool)
{
    const DeviceRow* row = GetRow(rowNumber);
    if (row == nullptr)
        return;
    juce::String text;
    switch (columnId)
    {
        case DeviceNameColumn: text = row->name; break;
        case SerialNumberColumn: text = SerialNumberText(rowNumber); break;
        case HardwareVersionColumn: text = row->hardwareVersion; break;
        case InstalledColumn: text = row->installedVersion; break;
        case AvailableColumn: text = row->availableVersion; break;
        case StatusColumn: text = row->statusText; break;
        default: break;
    }
    g.setColour(kCellText);
    g.setFont(m_cellFont);
    g.drawText(text, 0, 0, width, height, juce::Justification::centred, true);
}

juce::Component* KSTableListBox::refreshComponentForCell(int rowNumber, int columnId, bool,
                                                         juce::Component* existing)
{
    if (columnId == DeviceNameColumn)
    {
        auto* cell = dynamic_cast<DeviceComponent*>(existing);
        if (cell == nullptr)
            cell = new DeviceComponent(*this); // the table owns its cell components
        cell->Update(rowNumber, columnId);
        return cell;
    }
    if (columnId == StatusColumn)
    {
        auto* cell = dynamic_cast<DeviceStatusComponent*>(existing);
        if (cell == nullptr)
            cell = new DeviceStatusComponent(*this);
        cell->Update(rowNumber, columnId);
        return cell;
    }
    return existing;
}

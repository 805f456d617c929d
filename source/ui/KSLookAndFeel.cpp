#include "KSLookAndFeel.h"

#include "Fonts.h"
#include "ImageResources.h"
#include "KSButton.h"
#include "KSWindowButton.h"

#include <cmath>

namespace
{
const juce::Colour titleBarColour(0xFF24272C);
const juce::Colour titleTextColour(0xFF9DA1A6); // also the header column text
const juce::Colour headerFillColour(0xFF1F2227);
const juce::Colour headerLineColour(0xFF292C31);
const juce::Colour scrollBackgroundColour(0xFF3A3F45);

static_assert(KSLookAndFeel::firstColumnTitleOffset
                  == KSButton::marginWidth + KSButton::boxWidth + KSButton::boxGap + KSButton::pictureWidth
                         + KSButton::pictureGap,
              "the first column title must stay right of the row button's box and picture");

// Draws the source rectangle of an image stretched into the destination; empty parts draw nothing.
void drawImagePart(juce::Graphics& g, const juce::Image& image, int dx, int dy, int dw, int dh,
                   int sx, int sy, int sw, int sh)
{
    if (image.isValid() && dw > 0 && dh > 0 && sw > 0 && sh > 0)
        g.drawImage(image, dx, dy, dw, dh, sx, sy, sw, sh);
}
} // namespace

KSLookAndFeel::KSLookAndFeel()
    : titleFont(g_fontMedium),
      smallFont(g_fontSmall),
      progressFillImage(getImageResource(ImageId::ProgressFill)),
      progressTrackImage(getImageResource(ImageId::ProgressTrack)),
      scrollTrackImage(getImageResource(ImageId::ScrollTrack)),
      scrollThumbImage(getImageResource(ImageId::ScrollThumb))
{
}

bool KSLookAndFeel::areScrollbarButtonsVisible()
{
    return false;
}

void KSLookAndFeel::drawScrollbar(juce::Graphics& g, juce::ScrollBar& scrollBar, int x, int y, int width,
                                  int height, bool /*isScrollbarVertical*/, int thumbStartPosition, int thumbSize,
                                  bool /*isMouseOver*/, bool /*isMouseDown*/)
{
    // Always a vertical 7-pixel bar in the middle of the given area.
    const int barX = x + (width - scrollBarWidth) / 2;

    g.setColour(scrollBackgroundColour);
    g.fillRect(scrollBar.getLocalBounds());

    if (thumbSize <= 0)
        return;

    drawImagePart(g, scrollTrackImage, barX, y, scrollBarWidth, height,
                  0, 0, scrollTrackImage.getWidth(), scrollTrackImage.getHeight());
    drawImagePart(g, scrollThumbImage, barX, thumbStartPosition, scrollBarWidth, thumbSize,
                  0, 0, scrollThumbImage.getWidth(), scrollThumbImage.getHeight());
}

void KSLookAndFeel::fillResizableWindowBackground(juce::Graphics&, int, int, const juce::BorderSize<int>&,
                                                  juce::ResizableWindow&)
{
    // Nothing: the title bar and the content cover the whole window.
}

void KSLookAndFeel::drawDocumentWindowTitleBar(juce::DocumentWindow& window, juce::Graphics& g, int w, int h,
                                               int /*titleSpaceX*/, int /*titleSpaceW*/, const juce::Image* icon,
                                               bool /*drawTitleTextOnLeft*/)
{
    g.setColour(titleBarColour);
    g.fillRect(0, 0, w, h);

    if (icon != nullptr)
    {
        g.setOpacity(1.0f);
        g.drawImageWithin(*icon, titleIconX, titleIconY, titleIconWidth, titleIconHeight,
                          juce::RectanglePlacement::centred | juce::RectanglePlacement::doNotResize);
    }

    // The title always starts at a fixed x, in a rectangle exactly as wide as the text, so it is
    // never shortened; a long one runs under the buttons.
    const auto title = window.getName();
    const int titleWidth = (int) std::ceil(titleFont.getStringWidthFloat(title));
    g.setFont(titleFont);
    g.setColour(titleTextColour);
    g.drawText(title, titleTextX, 0, titleWidth, h, juce::Justification::centredLeft, true);
}

juce::Button* KSLookAndFeel::createDocumentWindowButton(int buttonType)
{
    return new KSWindowButton(buttonType);
}

void KSLookAndFeel::positionDocumentWindowButtons(juce::DocumentWindow&, int titleBarX, int titleBarY,
                                                  int titleBarW, int titleBarH, juce::Button* minimiseButton,
                                                  juce::Button* maximiseButton, juce::Button* closeButton,
                                                  bool positionTitleBarButtonsOnLeft)
{
    // Square buttons of the bar's height, side by side from the outer end, close button first.
    int x = positionTitleBarButtonsOnLeft ? titleBarX + 2 : titleBarX + titleBarW - titleBarH - 2;
    const int step = positionTitleBarButtonsOnLeft ? titleBarH : -titleBarH;

    auto place = [&](juce::Button* b) {
        if (b == nullptr)
            return;
        b->setBounds(x, titleBarY, titleBarH, titleBarH);
        x += step;
    };

    place(closeButton);
    place(positionTitleBarButtonsOnLeft ? minimiseButton : maximiseButton);
    place(positionTitleBarButtonsOnLeft ? maximiseButton : minimiseButton);
}

void KSLookAndFeel::drawTableHeaderBackground(juce::Graphics& g, juce::TableHeaderComponent& header)
{
    auto r = header.getLocalBounds();
    g.setColour(headerFillColour);
    g.fillRoundedRectangle(r.toFloat(), 3.0f);

    g.setColour(headerLineColour);
    g.fillRect(r.removeFromBottom(1));

    // Dividers between neighbouring visible columns; none after the last one.
    const int visibleColumns = header.getNumColumns(true);
    for (int i = 0; i < visibleColumns - 1; ++i)
        g.fillRect(header.getColumnPosition(i).removeFromRight(1));
}

void KSLookAndFeel::drawTableHeaderColumn(juce::Graphics& g, juce::TableHeaderComponent&,
                                          const juce::String& columnName, int columnId, int width, int height,
                                          bool, bool, int)
{
    auto area = juce::Rectangle<int>(0, 0, width, height);
    // The first column's cells start with the row button's box and picture; its title is centred
    // over the rest.
    if (columnId == 1)
        area.removeFromLeft(juce::jmin(firstColumnTitleOffset, width));

    g.setFont(smallFont);
    g.setColour(titleTextColour);
    g.drawFittedText(columnName, area, juce::Justification::centred, 1);
}

void KSLookAndFeel::drawProgressBar(juce::Graphics& g, juce::ProgressBar& progressBar, int width, int height,
                                    double progress, const juce::String& textToShow)
{
    // Outside 0..1 (and for a value that is not a number) the framework draws its moving
    // "unknown progress" bar.
    if (! (progress >= 0.0 && progress <= 1.0))
    {
        juce::LookAndFeel_V1::drawProgressBar(g, progressBar, width, height, progress, textToShow);
        return;
    }

    const int barY = (int) ((height - 4.0) * 0.5);
    drawImagePart(g, progressTrackImage, 0, barY, width, progressBarHeight,
                  0, 0, progressTrackImage.getWidth(), progressTrackImage.getHeight());

    // The fill is drawn in two halves, each taken from its own end of the image, so both rounded
    // ends stay visible at any length.
    const int imageW = progressFillImage.getWidth(), imageH = progressFillImage.getHeight();
    const int leftW = (int) (progress * 0.5 * width + 0.5);
    const int srcW = (int) (imageW * progress * 0.5);
    const int rightW = (int) (width * progress - leftW);
    drawImagePart(g, progressFillImage, 0, barY, leftW, progressBarHeight, 0, 0, srcW, imageH);
    drawImagePart(g, progressFillImage, leftW, barY, rightW, progressBarHeight, imageW - srcW, 0, srcW, imageH);
}

// The 61 images of the program in index order, with their sizes and roles.
#include "Drawing.h"

using namespace juce;

namespace imagegen
{
namespace
{
Painter checkBox(Colour fill, Colour frame, Colour mark, BoxMark kind, float opacity = 1.0f)
{
    const CheckBoxLook look { fill, frame, mark, kind, opacity };
    return [look](Graphics& g, int w, int h) { paintCheckBox(g, w, h, look); };
}

Painter textButton(Colour fill, Colour frame, bool bottomEdge, float opacity = 1.0f)
{
    const TextButtonLook look { fill, frame, bottomEdge, opacity };
    return [look](Graphics& g, int w, int h) { paintTextButton(g, w, h, look); };
}
} // namespace

std::vector<ImageSpec> buildImageTable()
{
    using namespace colours;
    const Colour boxFill(0xff3a3f45), disabledFill(0xff353a40), tickedFill(0xff44484e);
    const Colour none = Colours::transparentBlack;

    std::vector<ImageSpec> t;
    auto add = [&t](const char* role, int w, int h, Painter p, bool rgb = false) {
        t.push_back({ (int) t.size(), role, w, h, rgb, std::move(p) });
    };

    add("wordmark", 145, 17, paintWordmark);
    add("application icon", 128, 128, paintAppIcon);
    add("warning sign", 41, 33, paintWarningSign);

    add("check box disabled ticked", 18, 18, checkBox(disabledFill, grey, grey, BoxMark::tick, 0.3f));
    add("check box disabled partly", 18, 18, checkBox(disabledFill, grey, grey, BoxMark::partial, 0.3f));
    add("check box disabled empty", 18, 18, checkBox(disabledFill, grey, grey, BoxMark::none, 0.3f));
    add("check box ticked", 18, 18, checkBox(tickedFill, green, green, BoxMark::tick));
    add("check box partly", 18, 18, checkBox(boxFill, grey, green, BoxMark::partial));
    add("check box empty", 18, 18, checkBox(boxFill, grey, grey, BoxMark::none));
    add("check box pressed ticked", 18, 18, checkBox(boxFill, brightGreen, brightGreen, BoxMark::tick));
    add("check box pressed partly", 18, 18, checkBox(boxFill, green, brightGreen, BoxMark::partial));
    add("check box pressed empty", 18, 18, checkBox(boxFill, green, green, BoxMark::none));
    add("check box over ticked", 18, 18, checkBox(boxFill, darkGreen, darkGreen, BoxMark::tick));
    add("check box over partly", 18, 18, checkBox(boxFill, darkGreen, darkGreen, BoxMark::partial));
    add("check box over empty", 18, 18, checkBox(boxFill, darkGreen, darkGreen, BoxMark::none));

    for (auto c : { Colour(0xfff84141), Colour(0xffa6a6a6), Colour(0xffdf2d2d) })
        add("close glyph", 16, 14, [c](Graphics& g, int w, int h) { paintCloseGlyph(g, w, h, c); });
    for (auto c : { Colour(0xffffffff), Colour(0xffa6a6a6), Colour(0xff727272) })
        add("minimise glyph", 16, 14, [c](Graphics& g, int w, int h) { paintMinimiseGlyph(g, w, h, c); });

    add("progress fill", 102, 4, paintProgressFill);
    add("progress track", 102, 4, [](Graphics& g, int w, int h) { paintRoundedBar(g, w, h, Colour(0xff656b72)); });
    for (auto c : { Colour(0xff464b50), Colour(0xff77797a), Colour(0xff595c5f), Colour(0xff525558) })
        add("scroll bar", 7, 350, [c](Graphics& g, int w, int h) { paintRoundedBar(g, w, h, c); });

    add("failure badge", 22, 22, paintFailureBadge);
    add("success badge", 22, 22, paintSuccessBadge);

    for (int model = 0; model < 7; ++model)
        add(model < 6 ? "device picture" : "generic device picture", 66, 46,
            [model](Graphics& g, int w, int h) { paintDevice(g, w, h, model); });

    for (int frame = 0; frame < 7; ++frame)
        add("spinner frame", 22, 22, [frame](Graphics& g, int w, int h) { paintSpinnerFrame(g, w, h, frame, 7); });
    for (int frame = 0; frame < 9; ++frame)
        add("searching frame", 108, 93, [frame](Graphics& g, int w, int h) { paintSearchFrame(g, w, h, frame, 9); });

    add("unplugged device", 399, 89, [](Graphics& g, int w, int h) { paintUnpluggedDevice(g, w, h, false); }, true);
    add("unplugged device crossed out", 399, 89, [](Graphics& g, int w, int h) { paintUnpluggedDevice(g, w, h, true); });

    add("text button disabled", 118, 35, textButton(Colour(0xff60646b), none, false, 0.3f));
    add("text button green", 118, 35, textButton(Colour(0xff18af5e), none, true));
    add("text button green over", 118, 35, textButton(Colour(0xff20dc77), none, true));
    add("text button green pressed", 118, 35, textButton(Colour(0xff198a4d), none, true));
    add("text button slate", 118, 35, textButton(Colour(0xff60646b), none, true));
    add("text button slate over", 118, 35, textButton(Colour(0xff30614d), brightGreen, false));
    add("text button slate pressed", 118, 35, textButton(Colour(0xff2f5044), darkGreen, false));
    return t;
}
} // namespace imagegen

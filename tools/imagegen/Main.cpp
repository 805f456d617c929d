// imagegen: draws the program's embedded images and writes them as PNG files.
//
//   imagegen <output folder> [<contact sheet.png>]
//
// The images are written as image00.png ... image60.png. The optional contact sheet shows all of
// them on the window's dark background, each with its index, for review.
#include "Drawing.h"

#include <iostream>

using namespace juce;

namespace
{
Image render(const imagegen::ImageSpec& spec)
{
    Image image(spec.opaqueRgb ? Image::RGB : Image::ARGB, spec.width, spec.height, true);
    Graphics g(image);
    spec.paint(g, spec.width, spec.height);
    return image;
}

bool writePng(const Image& image, const File& file)
{
    file.deleteFile();
    FileOutputStream out(file);
    if (! out.openedOk())
        return false;
    PNGImageFormat png;
    return png.writeImageToStream(image, out);
}

// Lays the images out in rows on the dark background, each above its index.
Image makeContactSheet(const std::vector<Image>& images)
{
    constexpr int sheetWidth = 1180, pad = 14, labelHeight = 18;
    const Colour background(0xff24272c), tile(0xff2f3338), label(0xff9da1a6);

    struct Placement { int x, y, w, h; };
    std::vector<Placement> places;
    int x = pad, y = pad, rowHeight = 0;
    for (const auto& image : images)
    {
        const int w = std::max(image.getWidth(), 30) + 12;
        const int h = image.getHeight() + 12 + labelHeight;
        if (x + w > sheetWidth - pad)
        {
            x = pad;
            y += rowHeight + pad;
            rowHeight = 0;
        }
        places.push_back({ x, y, w, h });
        x += w + pad;
        rowHeight = std::max(rowHeight, h);
    }

    Image sheet(Image::RGB, sheetWidth, y + rowHeight + pad, true);
    Graphics g(sheet);
    g.fillAll(background);
    g.setFont(Font(13.0f));
    for (size_t i = 0; i < images.size(); ++i)
    {
        const auto& p = places[i];
        const auto& image = images[i];
        g.setColour(tile);
        g.fillRoundedRectangle((float) p.x, (float) p.y, (float) p.w, (float) (p.h - labelHeight), 4.0f);
        g.drawImageAt(image, p.x + (p.w - image.getWidth()) / 2, p.y + 6);
        g.setColour(label);
        g.drawText(String((int) i), p.x, p.y + p.h - labelHeight, p.w, labelHeight, Justification::centred, false);
    }
    return sheet;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::cerr << "usage: imagegen <output folder> [<contact sheet.png>]\n";
        return 2;
    }
    const auto cwd = File::getCurrentWorkingDirectory();
    const auto folder = cwd.getChildFile(String::fromUTF8(argv[1]));
    if (! folder.createDirectory())
    {
        std::cerr << "imagegen: cannot create " << folder.getFullPathName() << "\n";
        return 1;
    }

    std::vector<Image> images;
    for (const auto& spec : imagegen::buildImageTable())
    {
        images.push_back(render(spec));
        const auto file = folder.getChildFile(String::formatted("image%02d.png", spec.index));
        if (! writePng(images.back(), file))
        {
            std::cerr << "imagegen: cannot write " << file.getFullPathName() << "\n";
            return 1;
        }
    }

    if (argc >= 3)
    {
        const auto sheetFile = cwd.getChildFile(String::fromUTF8(argv[2]));
        sheetFile.getParentDirectory().createDirectory();
        if (! writePng(makeContactSheet(images), sheetFile))
        {
            std::cerr << "imagegen: cannot write " << sheetFile.getFullPathName() << "\n";
            return 1;
        }
    }
    DeletedAtShutdown::deleteAll();
    return 0;
}

// Builds one of VanTrelo's help documents: a Markdown text of ours, laid out by Qt's
// text engine and written as a PDF. It runs at build time under the offscreen platform.
//
//   helpgen --font FAMILY --images DIR --title TITLE INPUT.md OUTPUT.pdf
//
// The font must exist as named: a silent substitute could lack the glyphs of the
// document's language (a Chinese guide would print empty boxes).

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTemporaryDir>
#include <QTextImageFormat>
#include <QUrl>

#include <cstdio>

namespace {

// Icons stand in the running text at about the height of a line; pictures taller than
// this keep their own size.
constexpr int kLargestInlineIcon = 64;
constexpr int kInlineIconHeight = 15;

const QColor kHeadingColour(0x17, 0x3A, 0x63);

int Fail(const QString& text)
{
    std::fprintf(stderr, "helpgen: %s\n", text.toLocal8Bit().constData());
    return 1;
}

// Headings in the product's deep blue, with room above them.
void StyleHeadings(QTextDocument& doc)
{
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 0)
            continue;
        QTextCursor cursor(block);
        QTextBlockFormat blockFormat = block.blockFormat();
        blockFormat.setTopMargin(level == 1 ? 6 : 14);
        blockFormat.setBottomMargin(4);
        cursor.setBlockFormat(blockFormat);
        cursor.select(QTextCursor::BlockUnderCursor);
        QTextCharFormat charFormat;
        charFormat.setForeground(kHeadingColour);
        cursor.mergeCharFormat(charFormat);
    }
}

// Sizes the pictures: icons shrink to the line, the rest keep their pixels. A picture
// that cannot be read fails the build instead of leaving a hole in the guide.
bool SizeImages(QTextDocument& doc, const QString& imageDir, QString* missing)
{
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QString path = imageDir + "/" + format.name();
            QImage image(path);
            if (image.isNull()) {
                *missing = path;
                return false;
            }
            if (image.height() <= kLargestInlineIcon) {
                format.setHeight(kInlineIconHeight);
                format.setWidth(kInlineIconHeight * image.width() / image.height());
            } else {
                format.setHeight(image.height());
                format.setWidth(image.width());
            }
            doc.addResource(QTextDocument::ImageResource, QUrl(format.name()), image);
            QTextCursor cursor(&doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    // Qt wants a private runtime folder; a build machine often sets none, and the notice
    // about it would only clutter the build log.
    QTemporaryDir runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtimeDir.isValid())
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());

    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString family, imageDir, title;
    while (args.size() > 2) {
        const QString option = args.takeFirst();
        const QString value = args.takeFirst();
        if (option == "--font")
            family = value;
        else if (option == "--images")
            imageDir = value;
        else if (option == "--title")
            title = value;
        else
            return Fail("unknown option " + option);
    }
    if (args.size() != 2 || family.isEmpty() || imageDir.isEmpty())
        return Fail("usage: helpgen --font FAMILY --images DIR [--title TITLE] INPUT OUTPUT");

    QFile input(args[0]);
    if (!input.open(QIODevice::ReadOnly))
        return Fail("cannot read " + args[0]);
    const QString text = QString::fromUtf8(input.readAll());

    const QFont font(family, 10);
    if (QFontInfo(font).family() != family)
        return Fail("font " + family + " is not installed (found " + QFontInfo(font).family()
                    + ")");

    QTextDocument doc;
    doc.setDefaultFont(font);
    doc.setMarkdown(text);
    StyleHeadings(doc);
    QString missing;
    if (!SizeImages(doc, imageDir, &missing))
        return Fail("cannot read the picture " + missing);

    const QString output = args[1];
    {
        QPdfWriter writer(output);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        writer.setTitle(title);
        writer.setCreator("VanTrelo");
        doc.print(&writer);
    }
    if (QFileInfo(output).size() == 0)
        return Fail("nothing written to " + output);
    return 0;
}

#include "platform/AppIcon.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

TEST(AppIcon, DrawnFromTheSvgAtEverySizeATaskBarAsksFor) {
    const QIcon icon = quill::AppIcon();
    ASSERT_FALSE(icon.isNull()) << "the SVG resource is missing or unreadable";
    for (const int size : {16, 32, 48, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        // A rounded tile: see-through corners, an opaque middle.
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
    }
}

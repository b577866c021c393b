#include "ui/qt/Fonts.h"

#include <QFile>
#include <QFontDatabase>

namespace brek {

bool EnsureTahoma() {
  if (QFontDatabase::families().contains(QStringLiteral("Tahoma"))) return true;
  bool any = false;
  for (const char* path : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
    if (QFile::exists(QString::fromLatin1(path)) && QFontDatabase::addApplicationFont(QString::fromLatin1(path)) >= 0)
      any = true;
  return any && QFontDatabase::families().contains(QStringLiteral("Tahoma"));
}

}  // namespace brek

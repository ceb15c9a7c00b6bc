#include "AppTestSupport.h"

#include <QDir>

namespace korbu::test {

QString ArtefactDir(const char* sub) {
  const QString dir = QStringLiteral(KORBU_BUILD_DIR "/") + QString::fromLatin1(sub);
  QDir().mkpath(dir);
  return dir;
}

}  // namespace korbu::test

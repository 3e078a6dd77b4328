#include "platform/settings/QtCalibrationStore.h"

#include <QSettings>

namespace fm::platform {

namespace {

QSettings userSettings() {
    return QSettings(QStringLiteral("fieldmeter"), QStringLiteral("fieldmeter"));
}

const QString kOffsetKey = QStringLiteral("calibration/offsetDb");
const QString kDateKey = QStringLiteral("calibration/date");

bool written(QSettings& settings, std::string* error) {
    settings.sync();
    if (settings.status() == QSettings::NoError) {
        return true;
    }
    *error = "cannot write " + settings.fileName().toStdString();
    return false;
}

// A value as the file holds it: "120, 130" is read as a list, which toString() makes "".
std::string text(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", ")).toStdString();
    }
    return value.toString().toStdString();
}

}  // namespace

std::optional<StoredCalibration> QtCalibrationStore::load() {
    QSettings settings = userSettings();
    if (!settings.contains(kOffsetKey)) {
        return std::nullopt;
    }
    return StoredCalibration{text(settings.value(kOffsetKey)), text(settings.value(kDateKey))};
}

bool QtCalibrationStore::save(const StoredCalibration& calibration, std::string* error) {
    QSettings settings = userSettings();
    settings.setValue(kOffsetKey, QString::fromStdString(calibration.offsetDb));
    settings.setValue(kDateKey, QString::fromStdString(calibration.date));
    return written(settings, error);
}

bool QtCalibrationStore::forget(std::string* error) {
    QSettings settings = userSettings();
    settings.remove(kOffsetKey);
    settings.remove(kDateKey);
    return written(settings, error);
}

std::string QtCalibrationStore::where() const {
    return userSettings().fileName().toStdString();
}

}  // namespace fm::platform

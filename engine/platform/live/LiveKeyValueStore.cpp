#include "platform/live/LiveKeyValueStore.h"

#include <QLocale>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <limits>
#include <string_view>
#include <vector>

#include "config/ProductConfig.h"

namespace lumo {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

// INI files keep text only: each value is written with its type in front.
QString encodedText(const PreferenceValue& value) {
    struct Encoder {
        QString operator()(bool flag) const {
            return flag ? QStringLiteral("bool:true") : QStringLiteral("bool:false");
        }
        QString operator()(std::int64_t number) const { return QStringLiteral("int:") + QString::number(number); }
        QString operator()(double number) const {
            return QStringLiteral("double:") + QString::number(number, 'g', QLocale::FloatingPointShortest);
        }
        QString operator()(const std::string& text) const { return QStringLiteral("string:") + qt(text); }
    };
    return std::visit(Encoder{}, value);
}

PreferenceValue decodedText(const QString& stored) {
    const auto payload = [&](const QString& tag) { return stored.mid(tag.size()); };
    if (stored == QStringLiteral("bool:true")) return true;
    if (stored == QStringLiteral("bool:false")) return false;
    if (stored.startsWith(QStringLiteral("string:"))) return payload(QStringLiteral("string:")).toStdString();
    bool ok = false;
    if (stored.startsWith(QStringLiteral("int:"))) {
        const qlonglong number = payload(QStringLiteral("int:")).toLongLong(&ok);
        if (ok) return static_cast<std::int64_t>(number);
    } else if (stored.startsWith(QStringLiteral("double:"))) {
        const double number = payload(QStringLiteral("double:")).toDouble(&ok);
        if (ok) return number;
    }
    return stored.toStdString();  // not written by this store: plain text
}

QVariant nativeVariant(const PreferenceValue& value) {
    struct Converter {
        QVariant operator()(bool flag) const { return QVariant(flag); }
        QVariant operator()(std::int64_t number) const { return QVariant(static_cast<qlonglong>(number)); }
        QVariant operator()(double number) const { return QVariant(number); }
        QVariant operator()(const std::string& text) const { return QVariant(qt(text)); }
    };
    return std::visit(Converter{}, value);
}

std::optional<PreferenceValue> fromNativeVariant(const QVariant& stored) {
    switch (stored.metaType().id()) {
        case QMetaType::Bool: return PreferenceValue(stored.toBool());
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::LongLong: return PreferenceValue(static_cast<std::int64_t>(stored.toLongLong()));
        case QMetaType::ULong:
        case QMetaType::ULongLong: {
            const qulonglong number = stored.toULongLong();
            if (number > static_cast<qulonglong>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
            return PreferenceValue(static_cast<std::int64_t>(number));
        }
        case QMetaType::Float:
        case QMetaType::Double: return PreferenceValue(stored.toDouble());
        case QMetaType::QString: return PreferenceValue(stored.toString().toStdString());
        default: return std::nullopt;
    }
}

}  // namespace

struct LiveKeyValueStore::Settings {
    explicit Settings(std::unique_ptr<QSettings> store) : settings(std::move(store)) {
#ifdef __APPLE__
        typedText = settings->format() == QSettings::IniFormat;
#else
        typedText = true;  // the native format outside macOS is an INI file too
#endif
    }
    // The key QSettings needs for one of ours.
    QString key(const std::string& ours) const { return typedText ? qt(ours) : qt(settingsKeyForDefaultsKey(ours)); }
    std::unique_ptr<QSettings> settings;
    bool typedText = true;
};

std::string settingsKeyForDefaultsKey(const std::string& key) {
    // Qt's defaults backend turns '/' into '.', '.' into U+00B7 and U+00B7
    // into '/'; the opposite turn makes the defaults key equal ours.
    static constexpr std::string_view kMiddleDot = "\xC2\xB7";
    std::string result;
    result.reserve(key.size());
    for (std::size_t index = 0; index < key.size(); ++index) {
        if (key[index] == '.') {
            result += '/';
        } else if (key[index] == '/') {
            result += kMiddleDot;
        } else if (key.compare(index, kMiddleDot.size(), kMiddleDot) == 0) {
            result += '.';
            index += kMiddleDot.size() - 1;
        } else {
            result += key[index];
        }
    }
    return result;
}

SettingsNames settingsNamesForDomain(const std::string& reverseDNSDomain) {
    std::vector<std::string> labels;
    std::string::size_type start = 0;
    for (;;) {
        const auto dot = reverseDNSDomain.find('.', start);
        labels.push_back(reverseDNSDomain.substr(start, dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (labels.size() < 2) return {reverseDNSDomain, {}};
    SettingsNames names{labels[1] + "." + labels[0], {}};
    for (std::size_t index = 2; index < labels.size(); ++index) {
        if (!names.application.empty()) names.application += ".";
        names.application += labels[index];
    }
    return names;
}

LiveKeyValueStore::LiveKeyValueStore() : LiveKeyValueStore(ProductConfig::current().userDefaultsPrefix) {}

LiveKeyValueStore::LiveKeyValueStore(const std::string& reverseDNSDomain) {
    const SettingsNames names = settingsNamesForDomain(reverseDNSDomain);
    m_settings = std::make_unique<Settings>(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                                        qt(names.organization), qt(names.application)));
}

LiveKeyValueStore::LiveKeyValueStore(const IniFile& file) {
    m_settings = std::make_unique<Settings>(std::make_unique<QSettings>(qt(file.path), QSettings::IniFormat));
}

LiveKeyValueStore::~LiveKeyValueStore() = default;

std::optional<PreferenceValue> LiveKeyValueStore::value(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    const QVariant stored = m_settings->settings->value(m_settings->key(key));
    if (!stored.isValid()) return std::nullopt;
    if (m_settings->typedText && stored.metaType().id() == QMetaType::QString) return decodedText(stored.toString());
    return fromNativeVariant(stored);
}

void LiveKeyValueStore::set(const std::optional<PreferenceValue>& value, const std::string& key) {
    std::lock_guard lock(m_mutex);
    QSettings& settings = *m_settings->settings;
    if (!value) {
        settings.remove(m_settings->key(key));
    } else if (m_settings->typedText) {
        settings.setValue(m_settings->key(key), encodedText(*value));
    } else {
        settings.setValue(m_settings->key(key), nativeVariant(*value));
    }
    settings.sync();
}

std::string LiveKeyValueStore::location() const {
    std::lock_guard lock(m_mutex);
    return m_settings->settings->fileName().toStdString();
}

}  // namespace lumo

#pragma once

#include <QComboBox>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

namespace data {
class DataSource;
class Dataset;
} // namespace data

// An editable drop-down list over a dataset: one entry per row, showing one
// column and keyed by another. Choosing an entry moves the dataset to the
// first row with the chosen key, so the dataset's current row always stands
// on the chosen operator once the list has had its say.
class LookupCombo : public QComboBox
{
    Q_OBJECT

public:
    explicit LookupCombo(QWidget* parent = nullptr);
    LookupCombo(const LookupCombo&) = delete;
    LookupCombo& operator=(const LookupCombo&) = delete;

    void setListSource(data::DataSource* source, std::string keyField, std::string listField);
    data::Dataset* dataset() const;

    // Reads the rows anew; afterwards nothing is chosen and the text is empty.
    void reload();

    bool hasChoice() const { return m_chosenKey.has_value(); }
    QString chosenKey() const;

    // Data errors met while following the operator's keys and clicks; without
    // a handler they are dropped.
    void onError(std::function<void(const QString&)> handler) { m_onError = std::move(handler); }

    void showPopup() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    struct Entry
    {
        std::string key;
        QString shown;
    };

    void chooseKey(const std::string& key);
    void chooseRow(int row);
    void clearChoice(const QString& text, int cursor);
    void textEdited(const QString& text);
    bool searchAndChoose(const QString& text, bool prefix);
    void relocate();
    void stepRow(int delta);
    bool changedSinceFocusIn() const;
    void restoreFocusInState();
    void guarded(const std::function<void()>& work);

    data::DataSource* m_source = nullptr;
    std::string m_keyField;
    std::string m_listField;
    std::vector<Entry> m_entries;
    std::optional<std::string> m_chosenKey;
    std::optional<std::string> m_focusInKey;
    QString m_focusInText;
    bool m_typingCharacter = false;
    std::function<void(const QString&)> m_onError;
};

} // namespace velmora

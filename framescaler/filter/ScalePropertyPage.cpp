#include "filter/ScalePropertyPage.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>

namespace framescaler {

namespace {

// The page is laid out in dialog units of an 8-point dialog font (4 x 8 units per average
// character of 6 x 13 pixels).
QRect dialogUnits(int x, int y, int w, int h)
{
    const auto px = [](int u) { return u * 6 / 4; };
    const auto py = [](int u) { return u * 13 / 8; };
    return {px(x), py(y), px(w), py(h)};
}

template <class Widget>
Widget* place(Widget* widget, int id, const QRect& geometry)
{
    if (id != 0)
        widget->setObjectName(QString::number(id));
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

CUnknown* TScalePropertyPage::CreateInstance(IUnknown*, HRESULT* result)
{
    auto* page = new (std::nothrow) TScalePropertyPage();
    if (page == nullptr && result != nullptr)
        *result = E_OUTOFMEMORY;
    return page;
}

TScalePropertyPage::TScalePropertyPage() : CBasePropertyPage("TScalePropertyPage", "Properties Page")
{
    const QRect size = dialogUnits(0, 0, 220, 129);
    m_Width = size.width();
    m_Height = size.height();
}

HRESULT TScalePropertyPage::OnConnect(IUnknown* object)
{
    if (object == nullptr)
        return E_POINTER;
    ComPtr<IScaleSettings> settings;
    if (FAILED(object->QueryInterface(IID_IScaleSettings, settings.PutVoid())))
        return E_NOINTERFACE;
    if (!settings)
        return E_FAIL;
    m_settings = settings;
    m_params = TScaleParams{};
    m_settings->GetParams(&m_params);
    m_ready = false;
    return S_OK;
}

HRESULT TScalePropertyPage::OnDisconnect()
{
    m_settings = nullptr;
    return S_OK;
}

void TScalePropertyPage::buildControls(QWidget* page)
{
    m_enabled = place(new QCheckBox("Enabled Resize", page), kEnabledCheck, dialogUnits(14, 8, 64, 10));
    place(new QLabel("Width", page), 0, dialogUnits(39, 27, 25, 9));
    m_width = place(new QLineEdit(page), kWidthEdit, dialogUnits(67, 27, 40, 13));
    place(new QLabel("Heigh", page), 0, dialogUnits(40, 45, 25, 9));
    m_height = place(new QLineEdit(page), kHeightEdit, dialogUnits(66, 45, 40, 13));
    m_keepAspect = place(new QCheckBox("Keep Aspect", page), kKeepAspectCheck, dialogUnits(40, 65, 56, 10));
    m_pause = place(new QCheckBox("Pause (Black screen)", page), kPauseCheck, dialogUnits(39, 81, 82, 11));
    auto* group = place(new QGroupBox("Resize Mode", page), 0, dialogUnits(128, 18, 78, 47));
    // Radio buttons are children of the page, positioned over the group box as in a dialog.
    m_fast = place(new QRadioButton("Fast", page), kFastRadio, dialogUnits(137, 30, 61, 13));
    m_bilinear = place(new QRadioButton("Bilinear", page), kBilinearRadio, dialogUnits(137, 44, 51, 10));
    group->lower();
    place(new QLabel("Notice: Only suport RGB32 format", page), 0, dialogUnits(17, 102, 131, 13));

    const auto command = [this](int id) { return [this, id] { onCommand(id); }; };
    for (QCheckBox* box : {m_enabled, m_keepAspect, m_pause})
        QObject::connect(box, &QCheckBox::clicked, page, command(box->objectName().toInt()));
    for (QRadioButton* radio : {m_fast, m_bilinear})
        QObject::connect(radio, &QRadioButton::clicked, page, command(radio->objectName().toInt()));
    for (QLineEdit* edit : {m_width, m_height})
        QObject::connect(edit, &QLineEdit::textEdited, page, command(edit->objectName().toInt()));
}

HRESULT TScalePropertyPage::OnActivate(QWidget* page)
{
    buildControls(page);
    showRecord();
    applyEnablingRule();
    m_ready = true;
    return S_OK;
}

void TScalePropertyPage::showRecord()
{
    m_width->setText(QString::number(m_params.width));
    m_height->setText(QString::number(m_params.height));
    m_pause->setChecked(m_params.pause != 0);
    m_enabled->setChecked(m_params.enabled != 0);
    m_keepAspect->setChecked(m_params.keepAspect != 0);
    m_fast->setChecked(m_params.mode == 0);
    m_bilinear->setChecked(m_params.mode == 1);
}

void TScalePropertyPage::applyEnablingRule()
{
    const bool on = m_enabled->isChecked();
    for (QWidget* control : std::initializer_list<QWidget*>{m_width, m_height, m_keepAspect, m_pause})
        control->setEnabled(on);
}

void TScalePropertyPage::onCommand(int control)
{
    if (!m_ready)
        return;
    if (control == kEnabledCheck)
        applyEnablingRule();
    SetDirty();
}

HRESULT TScalePropertyPage::OnDeactivate()
{
    m_ready = false;
    readControls();
    m_width = m_height = nullptr;
    m_enabled = m_keepAspect = m_pause = nullptr;
    m_fast = m_bilinear = nullptr;
    return S_OK;
}

void TScalePropertyPage::readControls()
{
    if (m_width == nullptr)
        return; // not active: the record holds what the controls showed last
    m_params.width = m_width->text().trimmed().toInt();   // 0 when not a number
    m_params.height = m_height->text().trimmed().toInt();
    m_params.pause = m_pause->isChecked() ? 1 : 0;
    m_params.enabled = m_enabled->isChecked() ? 1 : 0;
    m_params.keepAspect = m_keepAspect->isChecked() ? 1 : 0;
    if (m_fast->isChecked())
        m_params.mode = 0;
    else if (m_bilinear->isChecked())
        m_params.mode = 1;
}

HRESULT TScalePropertyPage::OnApplyChanges()
{
    if (!m_settings)
        return E_POINTER;
    readControls();
    m_params.size = kScaleParamsFullSize;
    if (m_settings->SetParams(&m_params) == E_INVALIDARG) {
        QMessageBox::critical(m_pPage, "ERROR", "Invalidate parameter!");
        return E_INVALIDARG;
    }
    return S_OK;
}

} // namespace framescaler

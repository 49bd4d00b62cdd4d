// The resize filter's property page: output size, enabled, keep aspect, pause and the
// resize mode, read from and written to the filter through IScaleSettings.
#pragma once

#include "framescaler/ScaleSettings.h"

#include "compat/dshow/PropertyPage.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace framescaler {

class TScalePropertyPage final : public CBasePropertyPage {
public:
    // Control identifiers, also the object names of the page's widgets.
    enum Control {
        kWidthEdit = 1012,
        kEnabledCheck = 1013,
        kHeightEdit = 1014,
        kKeepAspectCheck = 1017,
        kPauseCheck = 1018,
        kFastRadio = 1019,
        kBilinearRadio = 1020,
    };

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    TScalePropertyPage();

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate(QWidget* page) override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;

private:
    void buildControls(QWidget* page);
    void showRecord();
    void readControls();
    void applyEnablingRule();
    void onCommand(int control);

    TScaleParams m_params;
    ComPtr<IScaleSettings> m_settings;
    bool m_ready = false; // the controls show m_params
    QLineEdit* m_width = nullptr;
    QLineEdit* m_height = nullptr;
    QCheckBox* m_enabled = nullptr;
    QCheckBox* m_keepAspect = nullptr;
    QCheckBox* m_pause = nullptr;
    QRadioButton* m_fast = nullptr;
    QRadioButton* m_bilinear = nullptr;
};

} // namespace framescaler

# SPDX-License-Identifier: MIT
# telmar_panel_form(DIR OUTPUTS_VAR): runs make_form.py on the control panel's Designer
# file into DIR at build time; OUTPUTS_VAR names the files it writes. Used by the
# Win32 shell and by the native tests that compare its table with the form.
function(telmar_panel_form dir outputs_var)
  set(ui ${PROJECT_SOURCE_DIR}/forms/LumoraForm.ui)
  set(qrc ${PROJECT_SOURCE_DIR}/forms/resources/lumora.qrc)
  set(outputs ${dir}/LumoraForm.table ${dir}/LumoraForm.rc ${dir}/logoblue64.ico
              ${dir}/logo2_80.bmp)
  add_custom_command(OUTPUT ${outputs}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/win32/make_form.py ${ui} ${qrc} ${dir}
    DEPENDS ${PROJECT_SOURCE_DIR}/win32/make_form.py ${ui} ${qrc}
            ${PROJECT_SOURCE_DIR}/forms/resources/logoblue64.png
            ${PROJECT_SOURCE_DIR}/forms/resources/logo2_80.png
    COMMENT "Win32 form of the control panel"
    VERBATIM)
  set(${outputs_var} ${outputs} PARENT_SCOPE)
endfunction()

# The document, its file and its execution share clsProcess, so they form
# one concern; the run code reaches the data layer, stores and scripts.
meridox_concern(meridox_core DIRS document file run LIBS Qt6::Xml meridox_stores meridox_data meridox_script)
set_target_properties(meridox_core PROPERTIES AUTOMOC ON)

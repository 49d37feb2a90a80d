# The document, its file and its execution share clsProcess, so they form
# one concern. It links the other concerns once the run code needs them.
meridox_concern(meridox_core DIRS document file run LIBS Qt6::Xml meridox_stores)

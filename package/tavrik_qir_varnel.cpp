// The package tavrik_qir_varnel.pck is made of whole static libraries: the
// unit client library, the framework client (with the entry points
// KOVAPckInit and KOVAGetModulesDefStruct), the components and the sensor
// data containers. This translation unit only gives the target a source.

// Asio's own compiled parts, built once here rather than in every file that uses Asio.
#include <boost/asio/impl/src.hpp>

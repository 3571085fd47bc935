#!/usr/bin/perl
# echo-responder.pl - the discovery rig's scripted echo answers, for the
# echo probe of the ARP search: messages that the probe must not take for
# its answer. Runs in the namespace orv9-e, whose kernel answers no echo
# itself (icmp_echo_ignore_all), and answers the echo requests to
#
#   198.18.9.21  sequence 0 with an echo reply carrying another identifier,
#                later sequences with the right echo reply
#   198.18.9.22  sequence 0 with an ICMP message of another type (14, a
#                timestamp reply, which the asker's kernel drops) carrying
#                the request's identifier, later sequences rightly
#   198.18.9.23  every request with the right echo reply, sent from a
#                third address, 198.18.9.24
#
# Perl, because perl-base (with Socket) is on every Debian machine.
#
#   usage: echo-responder.pl PIDFILE   (root: raw sockets)
use strict;
use warnings;
use Socket qw(PF_INET SOCK_RAW inet_aton inet_ntoa pack_sockaddr_in);

use constant { ICMP => 1, ECHO_REPLY => 0, ECHO_REQUEST => 8, OTHER_TYPE => 14 };

my %answer = (
  '198.18.9.21' => 'other-identifier',
  '198.18.9.22' => 'other-type',
  '198.18.9.23' => 'third-address',
);
my $third_address = '198.18.9.24';

sub raw_socket {
  my ($address) = @_;
  socket(my $socket, PF_INET, SOCK_RAW, ICMP) or die "echo-responder: raw socket: $!\n";
  if (defined $address) {
    bind($socket, pack_sockaddr_in(0, inet_aton($address))) or die "echo-responder: bind $address: $!\n";
  }
  return $socket;
}

# RFC 1071 over big-endian words.
sub checksum {
  my ($message) = @_;
  $message .= "\0" if length($message) % 2;
  my $sum = 0;
  $sum += $_ for unpack('n*', $message);
  $sum = ($sum >> 16) + ($sum & 0xFFFF);
  $sum += $sum >> 16;
  return ~$sum & 0xFFFF;
}

# type, code, checksum, then identifier, sequence and data as given.
sub icmp_message {
  my ($type, $identifier, $rest) = @_;
  my $message = pack('CCn', $type, 0, 0) . $identifier . $rest;
  substr($message, 2, 2) = pack('n', checksum($message));
  return $message;
}

my $pidfile_name = $ARGV[0] // die "usage: $0 PIDFILE\n";
my $listener = raw_socket();
# A raw socket sends from the address it is bound to.
my %sender = map { $_ => raw_socket($_) } (keys %answer, $third_address);
# Written once the sockets are open: the rig waits for it.
open(my $pidfile, '>', $pidfile_name) or die "echo-responder: $pidfile_name: $!\n";
print $pidfile "$$\n";
close($pidfile);

while (1) {
  my $from = recv($listener, my $datagram, 2048, 0);
  next unless defined $from && length($datagram) >= 20;
  my $header = (ord(substr($datagram, 0, 1)) & 0x0F) * 4;
  next if length($datagram) < $header + 8;
  my $to = inet_ntoa(substr($datagram, 16, 4));
  my $asker = substr($datagram, 12, 4);
  my $icmp = substr($datagram, $header);
  my $how = $answer{$to};
  next unless defined $how && ord($icmp) == ECHO_REQUEST;
  my $identifier = substr($icmp, 4, 2);
  my $sequence_and_data = substr($icmp, 6);
  my $first = substr($sequence_and_data, 0, 2) eq "\0\0";  # the probe writes it little-endian
  my ($type, $source) = (ECHO_REPLY, $to);
  if ($how eq 'other-identifier' && $first) {
    $identifier = pack('n', unpack('n', $identifier) ^ 0xFFFF);
  } elsif ($how eq 'other-type' && $first) {
    $type = OTHER_TYPE;
  } elsif ($how eq 'third-address') {
    $source = $third_address;
  }
  send($sender{$source}, icmp_message($type, $identifier, $sequence_and_data), 0, pack_sockaddr_in(0, $asker));
}
